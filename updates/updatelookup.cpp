#include "ui/mainwindow.h"
#include "updates/manifest.h"
#include "updates/updatefeed.h"

#include <QtDebug>

QString MainWindow::getURLOfUpdateForExtension(QString extensionName)
{
    NetworkWait wait(*this);
    if (extensionInfo.isEmpty())
        readAdobeDatabases();
    // Keys and records are copies: other slots run while the feed request waits.
    const QStringList keys = extensionInfo.keys();
    for (const QString &key : keys) {
        const ExtensionInfo record = extensionInfo.value(key);
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
