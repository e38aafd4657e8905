#pragma once

#include "updates/manifest.h"
#include "updates/updatefeed.h"

#include <QString>
#include <QUrl>

#include <functional>

// What a download of an update's package came to.
struct PackageDownload
{
    QString file;           // the package on disk; empty when the download failed
    QString failure;        // why it failed, in words for the user; empty when it succeeded
    bool cancelled = false; // the user stopped it; failure says so too
};

// Bytes received so far and the size announced (-1 when none was).
using DownloadProgress = std::function<void(qint64 received, qint64 total)>;

// Downloads the package at `address` (as the feed wrote it) into a new folder of its own that
// only the current account can write to, within the size, time and rate limits of
// updates/updatefeed.h, following one redirect that the network layer would not. Waits in a local
// event loop. Before it hands the file over it reads it back without following links and checks
// that it is the file written, and that it holds the announced extension (its name as listed) at
// the announced version (not checked when empty). A failed or cancelled download leaves no file or
// folder behind; a successful one leaves both to the caller.
PackageDownload downloadUpdatePackage(const QString &address, const PackageIdentity &announced,
                                      const DownloadProgress &progress = DownloadProgress(),
                                      DownloadCancel *cancel = nullptr);

// The package's file and the temporary folder it was downloaded into, both gone.
void discardDownloadedPackage(const QString &file);

// The address to request once more after a redirect: the new target, or none when there is no
// target or it is the one already requested.
QUrl redirectTarget(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl);

// Tests only: lowers the minimum rate (MinDownloadBytesPerWindow in DownloadRateWindowMs), and
// runs a hook between the end of the writing and the check of the file.
void setDownloadMinimumRate(qint64 bytesPerWindow, int windowMs);
void setPackageWrittenHook(std::function<void(const QString &file)> hook);
