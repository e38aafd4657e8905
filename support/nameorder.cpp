#include "support/nameorder.h"

#include <QCollator>

#include <algorithm>

namespace {
QCollator collatorFor(const QLocale &locale)
{
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

int compareNames(const QCollator &collator, const QString &a, const QString &b)
{
    const int collated = collator.compare(a, b);
    if (collated != 0)
        return collated;
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded : a.compare(b);
}
} // namespace

bool readsBefore(const QString &a, const QString &b, const QLocale &locale)
{
    return compareNames(collatorFor(locale), a, b) < 0;
}

QStringList inReadingOrder(QStringList names, const QLocale &locale)
{
    // One collator for the whole sort: making one costs far more than a comparison.
    const QCollator collator = collatorFor(locale);
    std::sort(names.begin(), names.end(),
              [&](const QString &a, const QString &b) { return compareNames(collator, a, b) < 0; });
    return names;
}
