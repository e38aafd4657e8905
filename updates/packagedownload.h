#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// What a download of an update's package came to.
struct PackageDownload
{
    QString file;    // the package on disk; empty when the download failed
    QString failure; // why it failed, in words for the user; empty when it succeeded
};

// Bytes received so far and the size announced (-1 when none was).
using DownloadProgress = std::function<void(qint64 received, qint64 total)>;

// Downloads the package at `address` (as the feed wrote it) into a new temporary folder of its
// own, within the size, time and rate limits of updates/updatefeed.h, following one redirect
// that the network layer would not. Waits in a local event loop. A failed download leaves no
// file or folder behind; a successful one leaves both to the caller.
PackageDownload downloadUpdatePackage(const QString &address,
                                      const DownloadProgress &progress = DownloadProgress());

// The package's file and the temporary folder it was downloaded into, both gone.
void discardDownloadedPackage(const QString &file);

// The address to request once more after a redirect: the new target, or none when there is no
// target or it is the one already requested.
QUrl redirectTarget(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl);
