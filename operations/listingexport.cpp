#include "operations/listingexport.h"

#include "inventory/inventory.h"
#include "support/nameorder.h"
#include "updates/versioncompare.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

QList<QStringList> rowsInReadingOrder(const QMap<QString, QStringList> &rows)
{
    QList<QStringList> ordered;
    const QStringList names = inReadingOrder(rows.keys());
    for (const QString &name : names)
        ordered << rows.value(name);
    return ordered;
}

bool isNewer(const QString &announced, const QString &installed)
{
    return !announced.isEmpty() && compareVersions(installed.toUtf8(), announced.toUtf8()) < 0;
}

namespace {

// Every exported row, in one order for both formats.
struct Row
{
    QString host;
    QString name;
    QString version;
    bool visible = true;
    QString icon;
    bool hostOnly = false; // a host that lists no extension
};

QList<Row> exportedRows(const Inventory &inventory)
{
    QList<Row> rows;
    const QStringList hostNames = inReadingOrder(inventory.hostExtensions.keys());
    for (const QString &hostName : hostNames) {
        const QList<QStringList> listed =
            rowsInReadingOrder(inventory.hostExtensions.value(hostName));
        for (const QStringList &row : listed) {
            const ExtensionInfo info = inventory.extensionInfo.value(row.value(0));
            rows << Row{hostName, row.value(0), row.value(1), info.shown != 0,
                        QDir::toNativeSeparators(info.iconPath)};
        }
        if (listed.isEmpty())
            rows << Row{hostName, QString(), QString(), true, QString(), true};
    }
    return rows;
}
} // namespace

QJsonObject listingJson(const Inventory &inventory, const UpdateCheck *check)
{
    QJsonArray hosts;
    QJsonArray extensions;
    QString currentHost;
    const QList<Row> rows = exportedRows(inventory);
    for (int i = 0; i < rows.size(); ++i) {
        const Row &row = rows.at(i);
        if (!row.hostOnly) {
            QJsonObject extension{{QStringLiteral("name"), row.name},
                                  {QStringLiteral("version"), row.version},
                                  {QStringLiteral("visible"), row.visible},
                                  {QStringLiteral("icon"), row.icon}};
            if (check) {
                const QString newer = check->announced.value(row.name);
                const bool available = isNewer(newer, row.version);
                extension.insert(QStringLiteral("updateAvailable"), available);
                extension.insert(QStringLiteral("updateVersion"),
                                 available ? QJsonValue(newer) : QJsonValue());
                if (check->failed.contains(row.name))
                    extension.insert(QStringLiteral("updateError"), check->failed.value(row.name));
            }
            extensions.append(extension);
        }
        if (i + 1 == rows.size() || rows.at(i + 1).host != row.host) {
            hosts.append(QJsonObject{{QStringLiteral("name"), row.host},
                                     {QStringLiteral("extensions"), extensions}});
            extensions = QJsonArray();
        }
    }
    return QJsonObject{{QStringLiteral("format"), 1}, {QStringLiteral("hosts"), hosts}};
}

QByteArray listingJsonText(const Inventory &inventory, const UpdateCheck *check)
{
    return QJsonDocument(listingJson(inventory, check)).toJson(QJsonDocument::Indented);
}

QString csvField(const QString &value)
{
    const bool quoted = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
                        value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')) ||
                        (!value.isEmpty() && (value.front().isSpace() || value.back().isSpace()));
    if (!quoted)
        return value;
    QString doubled = value;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray listingCsv(const Inventory &inventory, const UpdateCheck *check, const QString &lineEnd)
{
    QStringList header{QStringLiteral("host"), QStringLiteral("name"), QStringLiteral("version"),
                       QStringLiteral("visible"), QStringLiteral("icon")};
    if (check)
        header << QStringLiteral("updateAvailable") << QStringLiteral("updateVersion")
               << QStringLiteral("updateError");
    QString text = header.join(QLatin1Char(',')) + lineEnd;
    const QList<Row> rows = exportedRows(inventory);
    for (const Row &row : rows) {
        // A host without extensions has no line: CSV has no place for it without a name.
        if (row.hostOnly)
            continue;
        QStringList fields{row.host, row.name, row.version,
                           row.visible ? QStringLiteral("true") : QStringLiteral("false"),
                           row.icon};
        if (check) {
            const QString newer = check->announced.value(row.name);
            const bool available = isNewer(newer, row.version);
            fields << (available ? QStringLiteral("true") : QStringLiteral("false"))
                   << (available ? newer : QString()) << check->failed.value(row.name);
        }
        for (QString &field : fields)
            field = csvField(field);
        text += fields.join(QLatin1Char(',')) + lineEnd;
    }
    return text.toUtf8();
}
