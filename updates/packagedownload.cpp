#include "updates/packagedownload.h"

#include "platform/platform.h"
#include "platform/privatefolder.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
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

qint64 minimumBytesPerWindow = MinDownloadBytesPerWindow;
int minimumRateWindowMs = DownloadRateWindowMs;
std::function<void(const QString &)> packageWrittenHook;

bool sameName(const QString &a, const QString &b)
{
    return a.simplified().compare(b.simplified(), Qt::CaseInsensitive) == 0;
}

// Why the file at `path` is not the package to install; empty when it is. It must be the very
// file written, read through a descriptor that refuses a link, in a folder still private to us,
// and it must hold the extension and the version the feed announced.
QString packageMismatch(const QString &path, qint64 size, const QByteArray &sha256,
                        const PackageIdentity &announced)
{
    const QString changed = tr("the downloaded file was changed before it could be installed");
    QFile file;
    if (!Platform::isPrivateFolder(QFileInfo(path).absolutePath()) ||
        !Platform::openRegularFileNoFollow(file, path) || file.size() != size)
        return changed;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.pos() != size || hash.result() != sha256 || !file.seek(0))
        return changed;
    const PackageIdentity held = packageIdentity(&file);
    if (held.name.isEmpty())
        return tr("the package does not say which extension it holds");
    if (!sameName(held.name, announced.name))
        return tr("the package holds another extension (%1)").arg(held.name);
    if (!announced.version.trimmed().isEmpty() &&
        (held.version.isEmpty() ||
         compareVersions(held.version.toUtf8(), announced.version.trimmed().toUtf8()) != 0))
        return tr("the package holds version %1, not the announced %2")
            .arg(held.version.isEmpty() ? tr("(none)") : held.version, announced.version.trimmed());
    return QString();
}
} // namespace

void setDownloadMinimumRate(qint64 bytesPerWindow, int windowMs)
{
    minimumBytesPerWindow = bytesPerWindow;
    minimumRateWindowMs = windowMs;
}

void setPackageWrittenHook(std::function<void(const QString &file)> hook)
{
    packageWrittenHook = std::move(hook);
}

PackageDownload downloadUpdatePackage(const QString &address, const PackageIdentity &announced,
                                      const DownloadProgress &progress, DownloadCancel *cancel)
{
    PackageDownload result;
    const auto cancelled = [cancel] { return cancel && cancel->isCancelled(); };
    if (cancelled()) {
        result.cancelled = true;
        result.failure = tr("the download was cancelled");
        return result;
    }
    // The package goes to its file as it arrives, so its size costs no memory. The folder has to
    // outlive this call: the installation that follows removes it. An elevated run installs what
    // it finds there, so no other account may be able to swap the folder or the file.
    const QString folder = Platform::makePrivateFolder(
        downloadFolderBase(Platform::shortPathName(QDir::tempPath()),
                           commonAppDataFolder() + QStringLiteral("/Panelhold")),
        QStringLiteral("panelhold-"));
    if (folder.isEmpty()) {
        qDebug() << "TEMPORARY FOLDER CREATION ERROR";
        result.failure = tr("no temporary folder could be made for it");
        return result;
    }
    QFile package(folder + QStringLiteral("/temp.zxp"));
    const auto fail = [&](const QString &failure) {
        package.close();
        discardDownloadedPackage(package.fileName());
        result.failure = failure;
        return result;
    };
    // NewOnly: nothing, not even a link, may stand in its place already.
    if (!package.open(QIODevice::WriteOnly | QIODevice::Unbuffered | QIODevice::NewOnly))
        return fail(tr("the downloaded file could not be saved"));
    QCryptographicHash written256(QCryptographicHash::Sha256);

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
            else {
                written += piece.size();
                written256.addData(piece);
            }
        }
        if ((tooLarge || writeFailed) && !reply->isFinished())
            reply->abort();
    };
    ReplyLimits limits;
    limits.maxBodyBytes = cap;
    limits.deadline = QDeadlineTimer(downloadTimeLimitMs()); // for the redirect's request too
    limits.minBytesPerWindow = minimumBytesPerWindow;
    limits.rateWindowMs = minimumRateWindowMs;
    limits.cancel = cancel;
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
    if (end == ReplyWait::Finished && !tooLarge && !writeFailed && !target.isEmpty() &&
        !cancelled()) {
        // Only the body of the last answer is the package.
        written = 0;
        written256.reset();
        writeFailed = !package.resize(0);
        if (!writeFailed)
            std::tie(reply, end) = fetch(downloadRequest(reply->url().resolved(target),
                                                         QNetworkRequest::ManualRedirectPolicy),
                                         false);
    }

    QString failure;
    if (cancelled()) {
        result.cancelled = true;
        failure = tr("the download was cancelled");
    } else if (end == ReplyWait::TooSlow) {
        // Still arriving, only too slowly to be worth the wait: the server did not stop.
        failure = tr("the server sent it too slowly");
    } else if (tooLarge) {
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
    if (failure.isEmpty() && packageWrittenHook)
        packageWrittenHook(package.fileName());
    if (failure.isEmpty())
        failure = packageMismatch(package.fileName(), written, written256.result(), announced);
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
