#pragma once

#include <QString>

// The external tool entry ("*" and the quoted path of a separately installed tool), or "none".
extern QString externalToolEntry;

// Where a separately installed copy of the command-line tool would be. Tests point it elsewhere.
QString externalToolPath();
void setExternalToolPathForTesting(const QString &path);

// The name under which a host line of the tool's listing is shown and keyed: every Creative
// Cloud release of a product folds into one name ("Photoshop CC 2019" -> "Photoshop").
QString hostDisplayName(const QString &hostLine);
