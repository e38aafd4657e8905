#pragma once

#include <QLocale>
#include <QStringList>

// The order a reader expects names in: by the user's language, letter case aside, so "alpha"
// comes before "Zeta" and an accented letter sits beside its plain one. Names that collate alike
// still have one fixed order between them.
bool readsBefore(const QString &a, const QString &b, const QLocale &locale = QLocale());
QStringList inReadingOrder(QStringList names, const QLocale &locale = QLocale());
