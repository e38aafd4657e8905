#include "updates/updatefeed.h"

#include "support/boundedxml.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <atomic>
#include <climits>
#include <memory>

namespace {
// Read on the feed fetcher's thread too.
std::atomic<int> stallTimeoutMs{30000};
std::atomic<int> feedLimitMs{20000};
int downloadLimitMs = 10 * 60 * 1000;
qint64 downloadCapBytes = 512 * 1024 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}
} // namespace

int networkStallTimeoutMs()
{
    return stallTimeoutMs;
}

void setNetworkStallTimeoutMs(int milliseconds)
{
    stallTimeoutMs = milliseconds;
}

int feedTimeLimitMs()
{
    return feedLimitMs;
}

void setFeedTimeLimitMs(int milliseconds)
{
    feedLimitMs = milliseconds;
}

int downloadTimeLimitMs()
{
    return downloadLimitMs;
}

void setDownloadTimeLimitMs(int milliseconds)
{
    downloadLimitMs = milliseconds;
}

qint64 maxDownloadBytes()
{
    return downloadCapBytes;
}

void setMaxDownloadBytes(qint64 bytes)
{
    downloadCapBytes = bytes;
}

ReplyWait waitForReply(QNetworkReply *reply, const ReplyLimits &limits)
{
    ReplyWait end = ReplyWait::Finished;
    if (reply->isFinished())
        return end;

    QEventLoop loop;
    const auto giveUp = [&](ReplyWait why) {
        if (end != ReplyWait::Finished)
            return;
        end = why;
        reply->abort();
        // Aborted inside one of its own signals, a reply may not finish: the wait ends anyway.
        loop.quit();
    };
    const auto timeOut = [&](ReplyWait why) {
        // A loop opened above this wait (a modal box) may keep it from returning for long after
        // the reply finished; that is no time-out.
        if (!reply->isFinished())
            giveUp(why);
    };
    QTimer stallTimer;
    stallTimer.setSingleShot(true);
    stallTimer.setInterval(stallTimeoutMs);
    QObject::connect(&stallTimer, &QTimer::timeout, &loop, [&] { timeOut(ReplyWait::TimedOut); });
    QTimer deadlineTimer;
    deadlineTimer.setSingleShot(true);
    QObject::connect(&deadlineTimer, &QTimer::timeout, &loop, [&] { timeOut(ReplyWait::TooSlow); });
    qint64 received = 0;
    qint64 receivedBeforeWindow = 0;
    QTimer rateTimer;
    rateTimer.setInterval(limits.rateWindowMs);
    QObject::connect(&rateTimer, &QTimer::timeout, &loop, [&] {
        if (received - receivedBeforeWindow < limits.minBytesPerWindow)
            timeOut(ReplyWait::TooSlow);
        receivedBeforeWindow = received;
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    for (QTimer *timer : {&stallTimer, &deadlineTimer, &rateTimer})
        QObject::connect(reply, &QNetworkReply::finished, timer, &QTimer::stop);

    const auto madeProgress = [&] { stallTimer.start(); };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, madeProgress);
    QObject::connect(reply, &QNetworkReply::redirected, &loop, madeProgress);
    QObject::connect(reply, &QNetworkReply::uploadProgress, &loop, madeProgress);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop,
                     [&](qint64 receivedNow, qint64 total) {
                         stallTimer.start();
                         received = receivedNow;
                         if (limits.maxBodyBytes > 0 &&
                             (received > limits.maxBodyBytes || total > limits.maxBodyBytes))
                             giveUp(ReplyWait::TooLarge);
                     });
    if (limits.cancel) {
        if (limits.cancel->isCancelled())
            giveUp(ReplyWait::Cancelled);
        limits.cancel->setStop([&] { giveUp(ReplyWait::Cancelled); });
    }
    stallTimer.start();
    if (!limits.deadline.isForever())
        deadlineTimer.start(int(qBound<qint64>(0, limits.deadline.remainingTime(), INT_MAX)));
    if (limits.minBytesPerWindow > 0)
        rateTimer.start();
    if (!reply->isFinished() && end == ReplyWait::Finished)
        loop.exec();
    if (limits.cancel)
        limits.cancel->setStop(nullptr);
    if (!reply->isFinished()) {
        reply->abort();
        // Unless given up above, the loop was ended from outside (the application is
        // quitting): no answer came.
        if (end == ReplyWait::Finished)
            end = ReplyWait::TimedOut;
    }
    return end;
}

bool takeFeedBody(QNetworkReply *reply, QByteArray *body)
{
    if (body->size() > MaxFeedBytes)
        return true;
    body->append(reply->read(MaxFeedBytes + 1 - body->size()));
    if (body->size() <= MaxFeedBytes)
        return false;
    if (!reply->isFinished())
        reply->abort();
    return true;
}

FeedResponse requestUpdateFeed(const QString &url)
{
    // One manager per request; deleting it after the wait also deletes its reply.
    const auto manager = std::make_unique<QNetworkAccessManager>();
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("User-Agent", "Fake User");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager->get(request);
    reply->setReadBufferSize(FeedReadBufferBytes);
    QByteArray body;
    const QMetaObject::Connection arriving = QObject::connect(
        reply, &QNetworkReply::readyRead, reply, [reply, &body] { takeFeedBody(reply, &body); });

    ReplyLimits limits;
    limits.maxBodyBytes = MaxFeedBytes;
    limits.deadline = QDeadlineTimer(feedLimitMs);
    FeedResponse response;
    ReplyWait end = waitForReply(reply, limits);
    QObject::disconnect(arriving);
    if (end == ReplyWait::Finished && takeFeedBody(reply, &body))
        end = ReplyWait::TooLarge;
    switch (end) {
    case ReplyWait::TooLarge:
        response.tooLarge = true;
        break;
    case ReplyWait::TimedOut:
    case ReplyWait::TooSlow:
    case ReplyWait::Cancelled:
        response.error = QNetworkReply::TimeoutError;
        break;
    case ReplyWait::Finished:
        response.error = reply->error();
        response.body = QString::fromUtf8(body);
        break;
    }
    return response;
}

UpdateFeed parseUpdateFeed(const QString &body)
{
    UpdateFeed feed;
    QDomDocument document;
    // A partial tree left by a parse error counts for nothing, and so does a document nested too
    // deep to parse safely.
    if (!setShallowContent(document, body))
        return feed;
    feed.version = document.elementsByTagName(QStringLiteral("version")).item(0).toElement().text();
    feed.download =
        document.elementsByTagName(QStringLiteral("download")).item(0).toElement().text();
    return feed;
}

QString networkErrorName(QNetworkReply::NetworkError error)
{
    const char *name = QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error);
    return name ? QString::fromLatin1(name) : QString::number(int(error));
}

QString feedFailureWords(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return tr("the server did not answer in time");
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return tr("the server could not be reached");
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return tr("the server closed the connection");
    case QNetworkReply::SslHandshakeFailedError:
        return tr("no secure connection to the server could be made");
    case QNetworkReply::ContentNotFoundError:
        return tr("the server has no feed at its address");
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return tr("the server refused to give it");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return tr("the server sent it elsewhere too often or to an unsafe address");
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return tr("its address is not one Panelhold can fetch");
    case QNetworkReply::InternalServerError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::UnknownServerError:
        return tr("the server failed to answer");
    default:
        return tr("the network failed");
    }
}

QString lookupFailureReason(const QString &address)
{
    if (address == QLatin1String("URL_NO_URL"))
        return tr("its package names no place where updates are published");
    if (address == QLatin1String("URL_NETWORK_ERROR"))
        return tr("its update information could not be fetched from the vendor's server");
    if (address == QLatin1String("URL_CRASH_ERROR"))
        return tr("its update information could not be read");
    if (address.trimmed().isEmpty())
        return tr("the vendor's update information names no download address");
    return QString();
}

QString oversizedDownloadReason()
{
    constexpr qint64 KiB = 1024;
    const qint64 cap = downloadCapBytes;
    QString size;
    if (cap % (KiB * KiB) == 0)
        size = tr("%1 MiB").arg(cap / (KiB * KiB));
    else if (cap % KiB == 0)
        size = tr("%1 KiB").arg(cap / KiB);
    else
        size = tr("%1 bytes").arg(cap);
    return tr("the file is larger than an extension package can be (%1)").arg(size);
}

QString downloadFailureReason(QNetworkReply::NetworkError error, int httpStatus,
                              const QString &errorString, qint64 bodySize)
{
    if (httpStatus >= 400)
        return tr("the server answered with error %1").arg(httpStatus);
    switch (error) {
    case QNetworkReply::NoError:
        break;
    case QNetworkReply::TimeoutError:
        return tr("the server stopped answering");
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
        return tr("the server could not be reached");
    case QNetworkReply::RemoteHostClosedError:
        return tr("the server closed the connection before the file was complete");
    case QNetworkReply::ContentNotFoundError:
        return tr("the file was not found");
    default:
        return tr("the download failed (%1)").arg(errorString);
    }
    if (bodySize <= 0)
        return tr("the server sent an empty file");
    return QString();
}

QString downloadFolderBase(const QString &temporaryFolder, const QString &fallback)
{
    for (const QChar c : temporaryFolder) {
        if (c.unicode() > 0x7e)
            return fallback;
    }
    return temporaryFolder;
}
