#include "updates/feedfetcher.h"

#include "updates/updatefeed.h"

#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {
std::atomic<int> answerLifetimeMs{5 * 60 * 1000};
// What one network access manager sends to a host at once; with the lane limit, up to 240
// requests are in flight to one host.
constexpr int ConnectionsPerLane = 6;
std::atomic<int> lanesPerHost{40};
} // namespace

int FeedFetcher::laneLimit()
{
    return lanesPerHost;
}

void FeedFetcher::setLaneLimit(int lanes)
{
    lanesPerHost = qMax(1, lanes);
}

int FeedAnswerCache::lifetimeMs()
{
    return answerLifetimeMs;
}

void FeedAnswerCache::setLifetimeMs(int milliseconds)
{
    answerLifetimeMs = milliseconds;
}

bool FeedAnswerCache::find(const QString &url, FeedAnswer *answer) const
{
    const QMutexLocker locker(&m_mutex);
    const auto entry = m_answers.constFind(url);
    if (entry == m_answers.constEnd() || entry->age.hasExpired(lifetimeMs()))
        return false;
    *answer = entry->answer;
    return true;
}

void FeedAnswerCache::store(const QString &url, const FeedAnswer &answer)
{
    const QMutexLocker locker(&m_mutex);
    Entry &entry = m_answers[url];
    entry.answer = answer;
    entry.age.start();
}

void FeedAnswerCache::clear()
{
    const QMutexLocker locker(&m_mutex);
    m_answers.clear();
}

FeedFetcher::FeedFetcher(FeedAnswerCache &answers) : m_answers(answers) {}

void FeedFetcher::ask(const QString &url)
{
    QMetaObject::invokeMethod(
        this, [this, url] { request(url); }, Qt::QueuedConnection);
}

QString FeedFetcher::hostOf(const QString &url)
{
    // As the network manager keys its connections: "http://h/" and "http://h:80/" are one host.
    const QUrl parsed(url, QUrl::TolerantMode);
    const int defaultPort = parsed.scheme() == QLatin1String("https") ? 443 : 80;
    return parsed.scheme() + QLatin1Char('/') + parsed.host() + QLatin1Char(':') +
           QString::number(parsed.port(defaultPort));
}

void FeedFetcher::request(const QString &url)
{
    if (m_asked.contains(url))
        return;
    FeedAnswer remembered;
    if (m_answers.find(url, &remembered)) {
        emit answered(url, remembered);
        return;
    }
    m_asked.insert(url);
    const QString host = hostOf(url);
    const int lane = freeLane(host);
    if (lane < 0)
        m_queuedForHost[host] << url;
    else
        send(url, host, lane);
}

int FeedFetcher::freeLane(const QString &host)
{
    QVector<int> &sent = m_sentToHost[host];
    for (int lane = 0; lane < sent.size(); ++lane) {
        if (sent.at(lane) < ConnectionsPerLane)
            return lane;
    }
    if (sent.size() >= laneLimit())
        return -1;
    sent.append(0);
    return sent.size() - 1;
}

void FeedFetcher::send(const QString &url, const QString &host, int lane)
{
    ++m_sentToHost[host][lane];
    while (m_lanes.size() <= lane)
        m_lanes << new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("User-Agent", "Fake User");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_lanes.at(lane)->get(request);
    reply->setReadBufferSize(FeedReadBufferBytes);

    // No progress for the stall timeout, or no end within the overall limit: given up.
    auto *stall = new QTimer(reply);
    stall->setSingleShot(true);
    stall->start(networkStallTimeoutMs());
    auto *overall = new QTimer(reply);
    overall->setSingleShot(true);
    overall->start(feedTimeLimitMs());
    auto timedOut = std::make_shared<bool>(false);
    const auto giveUp = [reply, timedOut] {
        if (reply->isFinished())
            return;
        *timedOut = true;
        reply->abort();
    };
    connect(stall, &QTimer::timeout, reply, giveUp);
    connect(overall, &QTimer::timeout, reply, giveUp);
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [reply, stall, tooLarge](qint64 received, qint64 total) {
                stall->start(networkStallTimeoutMs());
                if (received > MaxFeedBytes || total > MaxFeedBytes) {
                    *tooLarge = true;
                    reply->abort();
                }
            });
    // Read as it arrives, so that the bounded buffer keeps the network thread reading.
    auto body = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, body, tooLarge] {
        if (takeFeedBody(reply, body.get()))
            *tooLarge = true;
    });
    connect(reply, &QNetworkReply::metaDataChanged, stall,
            [stall] { stall->start(networkStallTimeoutMs()); });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, url, host, lane, timedOut, tooLarge, body] {
                reply->deleteLater();
                FeedAnswer answer;
                answer.answeredAt = QDateTime::currentDateTime();
                if (!*tooLarge && !*timedOut && takeFeedBody(reply, body.get()))
                    *tooLarge = true;
                if (*tooLarge) {
                    answer.tooLarge = true;
                } else if (*timedOut) {
                    answer.error = QNetworkReply::TimeoutError;
                } else {
                    answer.error = reply->error();
                    if (answer.error == QNetworkReply::NoError)
                        answer.version = parseUpdateFeed(QString::fromUtf8(*body)).version;
                }
                done(url, host, lane, answer);
            });
}

void FeedFetcher::done(const QString &url, const QString &host, int lane, const FeedAnswer &answer)
{
    m_answers.store(url, answer);
    m_asked.remove(url);
    emit answered(url, answer);

    --m_sentToHost[host][lane];
    QStringList &queued = m_queuedForHost[host];
    if (!queued.isEmpty()) {
        send(queued.takeFirst(), host, lane);
        return;
    }
    if (m_asked.isEmpty()) {
        // Each manager keeps a thread and its idle connections; the first serves what comes.
        m_sentToHost.clear();
        m_queuedForHost.clear();
        while (m_lanes.size() > 1)
            m_lanes.takeLast()->deleteLater();
    }
}
