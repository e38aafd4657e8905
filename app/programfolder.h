#pragma once

#include <QString>

// The folder that holds the executable, Resources/ and Contents/. Tests point it at the
// build's program folder, since their own executables live elsewhere.
QString programFolder();
void setProgramFolder(const QString &folder);
