#include "updates/updatelookup.h"

#include "inventory/inventory.h"
#include "updates/manifest.h"
#include "updates/updatefeed.h"

#include <QtDebug>

QString updateAddressOf(Inventory &inventory, const QString &extensionName)
{
    if (inventory.extensionInfo.isEmpty())
        inventory.readAdobeDatabases();
    // Records are copies: other slots run while the feed request waits, and a refresh may
    // rebuild the inventory meanwhile.
    const QList<ExtensionInfo> records = inventory.extensionInfo.values();
    for (const ExtensionInfo &record : records) {
        if (record.name != extensionName)
            continue;
        QList<ManifestUpdateUrl> manifests;
        if (!readManifestUpdateUrls(record.packagePath, &manifests))
            continue;
        // The first manifest that names a feed decides; a failed request is not retried with
        // the others.
        for (const ManifestUpdateUrl &manifest : manifests) {
            if (manifest.crashed) {
                qDebug() << "CRASH2";
                return QStringLiteral("URL_CRASH_ERROR");
            }
            try {
                if (manifest.url.isEmpty())
                    continue;
                const FeedResponse response = requestUpdateFeed(manifest.url);
                if (response.tooLarge)
                    return QString(); // announces nothing we could use
                if (response.error != QNetworkReply::NoError)
                    return QStringLiteral("URL_NETWORK_ERROR");
                return parseUpdateFeed(response.body).download;
            } catch (...) {
                qDebug() << "CRASH2";
                return QStringLiteral("URL_CRASH_ERROR");
            }
        }
    }
    return QStringLiteral("URL_NO_URL");
}
