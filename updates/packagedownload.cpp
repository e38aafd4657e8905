#include "updates/packagedownload.h"

#include "platform/platform.h"
#include "updates/updatefeed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QtDebug>

#include <memory>
#include <tuple>
#include <utility>

namespace {
QNetworkRequest downloadRequest(const QUrl &url, QNetworkRequest::RedirectPolicy policy)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, policy);
    request.setRawHeader("User-Agent", "Fake User");
    return request;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}
} // namespace

PackageDownload downloadUpdatePackage(const QString &address, const DownloadProgress &progress)
{
    PackageDownload result;
    // The package goes to its file as it arrives, so its size costs no memory. The folder has to
    // outlive this call: the installation that follows removes it.
    QTemporaryDir folder(
        downloadFolderBase(QDir::tempPath(), commonAppDataFolder() + QStringLiteral("/Panelhold")) +
        QStringLiteral("/panelhold-XXXXXX"));
    folder.setAutoRemove(false);
    if (!folder.isValid()) {
        qDebug() << "TEMPORARY FOLDER CREATION ERROR";
        result.failure = tr("no temporary folder could be made for it");
        return result;
    }
    QFile package(folder.path() + QDir::separator() + QStringLiteral("temp.zxp"));
    const auto fail = [&](const QString &failure) {
        package.close();
        discardDownloadedPackage(package.fileName());
        result.failure = failure;
        return result;
    };
    if (!package.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(tr("the downloaded file could not be saved"));

    // Serves both requests; deleting it deletes their replies too.
    const auto manager = std::make_unique<QNetworkAccessManager>();
    const qint64 cap = maxDownloadBytes();
    qint64 written = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    // In pieces: a local file's reply hands over all of it at once.
    const auto store = [&](QNetworkReply *reply) {
        while (!tooLarge && !writeFailed && reply->bytesAvailable() > 0) {
            const QByteArray piece = reply->read(qMin<qint64>(reply->bytesAvailable(), 1 << 20));
            if (written + piece.size() > cap)
                tooLarge = true;
            else if (package.write(piece) != piece.size())
                writeFailed = true;
            else
                written += piece.size();
        }
        if ((tooLarge || writeFailed) && !reply->isFinished())
            reply->abort();
    };
    ReplyLimits limits;
    limits.maxBodyBytes = cap;
    limits.deadline = QDeadlineTimer(downloadTimeLimitMs()); // for the redirect's request too
    limits.minBytesPerWindow = MinDownloadBytesPerWindow;
    limits.rateWindowMs = DownloadRateWindowMs;
    const auto fetch = [&](const QNetworkRequest &request, bool showProgress) {
        QNetworkReply *reply = manager->get(request);
        // Holds the network back while the disk catches up, instead of queueing what arrives.
        reply->setReadBufferSize(1 << 20);
        if (showProgress && progress)
            QObject::connect(reply, &QNetworkReply::downloadProgress, progress);
        const QMetaObject::Connection arriving =
            QObject::connect(reply, &QNetworkReply::readyRead, [&, reply] { store(reply); });
        const ReplyWait end = waitForReply(reply, limits);
        QObject::disconnect(arriving);
        // A local file's reply is done before the wait and announces its size only here.
        tooLarge = tooLarge || end == ReplyWait::TooLarge ||
                   reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > cap;
        if (end == ReplyWait::Finished)
            store(reply); // what came with the end of the reply
        return std::make_pair(reply, end);
    };

    // A feed written over several lines pads the address with white space.
    QNetworkReply *reply = nullptr;
    ReplyWait end = ReplyWait::Finished;
    std::tie(reply, end) = fetch(downloadRequest(QUrl(address.trimmed(), QUrl::TolerantMode),
                                                 QNetworkRequest::NoLessSafeRedirectPolicy),
                                 true);

    // A redirect the network layer would not follow itself gets one more request.
    const QUrl target = redirectTarget(
        reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl(), QUrl());
    if (end == ReplyWait::Finished && !tooLarge && !writeFailed && !target.isEmpty()) {
        // Only the body of the last answer is the package.
        written = 0;
        writeFailed = !package.resize(0);
        if (!writeFailed)
            std::tie(reply, end) = fetch(downloadRequest(reply->url().resolved(target),
                                                         QNetworkRequest::ManualRedirectPolicy),
                                         false);
    }

    QString failure;
    if (tooLarge) {
        failure = oversizedDownloadReason();
    } else if (writeFailed) {
        failure = tr("the downloaded file could not be saved");
    } else {
        failure = downloadFailureReason(
            end == ReplyWait::TimedOut ? QNetworkReply::TimeoutError : reply->error(),
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->errorString(), written);
    }
    package.close();
    if (failure.isEmpty() && package.error() != QFileDevice::NoError)
        failure = tr("the downloaded file could not be saved");
    if (!failure.isEmpty())
        return fail(failure);
    result.file = package.fileName();
    return result;
}

void discardDownloadedPackage(const QString &file)
{
    if (file.isEmpty())
        return;
    QFile::remove(file);
    // Succeeds only once the folder is empty, which is all we want.
    QDir().rmdir(QFileInfo(file).absolutePath());
}

QUrl redirectTarget(const QUrl &possibleRedirectUrl, const QUrl &oldRedirectUrl)
{
    if (!possibleRedirectUrl.isEmpty() && possibleRedirectUrl != oldRedirectUrl)
        return possibleRedirectUrl;
    return QUrl();
}
