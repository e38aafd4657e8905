#pragma once

#include <QSqlDatabase>
#include <QString>

// Whether a generation's database has a row for the extension, read now. A database that is
// missing or cannot be opened holds nothing.
bool databaseHoldsExtension(QSqlDatabase connection, const QString &name);
