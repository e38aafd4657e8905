#include "ui/extensionfilter.h"

#include <QSet>

QString findKey(const QString &text)
{
    // Compatibility decomposition splits "é" into "e" and its accent, and "ﬁ" into "fi".
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString key;
    key.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        switch (c.category()) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            continue;
        default:
            break;
        }
        switch (c.unicode()) {
        case 0x00DF: // ß
        case 0x1E9E: // ẞ
            key += QLatin1String("ss");
            continue;
        case 0x00C6: // Æ
        case 0x00E6:
            key += QLatin1String("ae");
            continue;
        case 0x0152: // Œ
        case 0x0153:
            key += QLatin1String("oe");
            continue;
        case 0x00D8: // Ø
        case 0x00F8:
            key += QLatin1Char('o');
            continue;
        case 0x0141: // Ł
        case 0x0142:
            key += QLatin1Char('l');
            continue;
        case 0x0110: // Đ
        case 0x0111:
            key += QLatin1Char('d');
            continue;
        case 0x0131: // dotless ı
            key += QLatin1Char('i');
            continue;
        default:
            key += c;
        }
    }
    return key.toCaseFolded();
}

QStringList findWords(const QString &typed)
{
    // Tabs, no-break spaces and other blanks separate words as spaces do.
    return findKey(typed).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool findKeyMatches(const QString &nameKey, const QStringList &typedKeys)
{
    for (const QString &word : typedKeys) {
        if (!nameKey.contains(word))
            return false;
    }
    return true;
}

bool findMatches(const QString &name, const QString &typed)
{
    return findKeyMatches(findKey(name), findWords(typed));
}

QVector<TableEntry> tableEntries(const HostExtensionMap &hostExtensions,
                                 const QStringList &hostOrder, const QString &selectedHost,
                                 bool everyHost)
{
    QVector<TableEntry> entries;
    QSet<QString> seen; // a host named twice in the list is listed once
    const QStringList hosts = everyHost ? hostOrder : QStringList{selectedHost};
    for (const QString &host : hosts) {
        if (seen.contains(host))
            continue;
        seen.insert(host);
        const auto extensions = hostExtensions.constFind(host);
        if (extensions == hostExtensions.constEnd())
            continue;
        for (const QStringList &row : *extensions)
            entries.append(TableEntry{host, row.value(0), row.value(1)});
    }
    return entries;
}
