#include "updates/updatescanner.h"

#include "inventory/inventory.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QtDebug>

namespace {
int answerLifetimeMs = 5 * 60 * 1000;
constexpr int MaxRequestsPerHost = 6;
} // namespace

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
    const auto entry = m_answers.constFind(url);
    if (entry == m_answers.constEnd() || entry->age.hasExpired(lifetimeMs()))
        return false;
    *answer = entry->answer;
    return true;
}

void FeedAnswerCache::store(const QString &url, const FeedAnswer &answer)
{
    Entry &entry = m_answers[url];
    entry.answer = answer;
    entry.age.start();
}

bool ManifestUrlCache::urls(const QString &packagePath, QList<ManifestUpdateUrl> *manifests)
{
    const QFileInfo info(packagePath);
    const qint64 size = info.exists() ? info.size() : -1;
    const QDateTime modified = info.lastModified();
    Entry &entry = m_entries[packagePath];
    if (entry.size != size || entry.modified != modified || size < 0) {
        entry.size = size;
        entry.modified = modified;
        entry.readable = readManifestUpdateUrls(packagePath, &entry.manifests);
    }
    *manifests = entry.manifests;
    return entry.readable;
}

UpdateScanner::UpdateScanner(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
}

UpdateScanner::~UpdateScanner()
{
    cancel();
}

void UpdateScanner::cancel()
{
    ++m_generation;
    m_waiting.clear();
    m_sentToHost.clear();
    m_queuedForHost.clear();
    const QList<QPointer<QNetworkReply>> replies = m_replies;
    m_replies.clear();
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
    m_running = false;
}

void UpdateScanner::start(const QList<ScanTarget> &targets)
{
    cancel();
    m_running = true;
    m_found.clear();
    // A feed is asked as soon as a manifest names it, so it answers while the other packages
    // are read. Its answer is handled once this returns, with every extension naming it waiting.
    QList<QPair<QString, FeedAnswer>> remembered; // answered from memory, in the order named
    for (const ScanTarget &target : targets) {
        if (target.packagePath.isEmpty())
            continue;
        QList<ManifestUpdateUrl> manifests;
        if (!m_manifests.urls(target.packagePath, &manifests))
            continue;
        for (const ManifestUpdateUrl &manifest : qAsConst(manifests)) {
            if (manifest.crashed) {
                qDebug() << "CRASH1";
                continue;
            }
            if (manifest.url.isEmpty())
                continue;
            const bool named = m_waiting.contains(manifest.url);
            m_waiting.insert(manifest.url, Pending{target.name, target.installedVersion});
            if (named)
                continue;
            FeedAnswer cached;
            if (m_answers.find(manifest.url, &cached))
                remembered << qMakePair(manifest.url, cached);
            else
                request(manifest.url);
        }
    }
    for (const auto &answer : qAsConst(remembered))
        answered(answer.first, answer.second, false);
    // Answers from memory came in at once; a scan with nothing to ask ends here too, but only
    // once the caller has connected and returned.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation)
            finishIfDone();
    });
}

QString UpdateScanner::hostOf(const QString &url)
{
    const QUrl parsed(url, QUrl::TolerantMode);
    return parsed.scheme() + QLatin1Char('/') + parsed.host() + QLatin1Char(':') +
           QString::number(parsed.port());
}

void UpdateScanner::request(const QString &url)
{
    const QString host = hostOf(url);
    if (m_sentToHost.value(host) >= MaxRequestsPerHost) {
        m_queuedForHost[host] << url;
        return;
    }
    send(url);
}

void UpdateScanner::send(const QString &url)
{
    ++m_sentToHost[hostOf(url)];
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("User-Agent", "Fake User");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    m_replies << reply;

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
    connect(reply, &QNetworkReply::metaDataChanged, stall,
            [stall] { stall->start(networkStallTimeoutMs()); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url, timedOut, tooLarge] {
        m_replies.removeAll(reply);
        reply->deleteLater();
        FeedAnswer answer;
        if (*tooLarge) {
            answer.tooLarge = true;
        } else if (*timedOut) {
            answer.error = QNetworkReply::TimeoutError;
        } else {
            answer.error = reply->error();
            if (answer.error == QNetworkReply::NoError)
                answer.version =
                    parseUpdateFeed(QString::fromUtf8(reply->read(MaxFeedBytes))).version;
        }
        m_answers.store(url, answer);
        answered(url, answer, true);
        const QString host = hostOf(url);
        --m_sentToHost[host];
        QStringList &queued = m_queuedForHost[host];
        if (!queued.isEmpty())
            send(queued.takeFirst());
        finishIfDone();
    });
}

void UpdateScanner::answered(const QString &url, const FeedAnswer &answer, bool fresh)
{
    Q_UNUSED(fresh)
    const QList<Pending> waiting = m_waiting.values(url);
    m_waiting.remove(url);
    if (answer.tooLarge) {
        qDebug().noquote() << "FEED TOO LARGE" << url;
        return;
    }
    if (answer.error != QNetworkReply::NoError) {
        qDebug().noquote() << "ERROR LOADING" << url << networkErrorName(answer.error);
        return;
    }
    // values() gives the latest first; report in the order the extensions were named.
    for (auto it = waiting.crbegin(); it != waiting.crend(); ++it) {
        const Pending &pending = *it;
        if (pending.installedVersion.isEmpty() || answer.version.isEmpty() ||
            compareVersions(pending.installedVersion.toUtf8(), answer.version.toUtf8()) != -1 ||
            m_found.contains(pending.name))
            continue;
        m_found << pending.name;
        emit updateFound(pending.name, answer.version);
    }
}

void UpdateScanner::finishIfDone()
{
    if (!m_running || !m_replies.isEmpty())
        return;
    m_running = false;
    emit finished();
}

QList<ScanTarget> scanTargets(Inventory &inventory)
{
    if (inventory.extensionInfo.isEmpty())
        inventory.readDatabases();
    QList<ScanTarget> targets;
    for (const ExtensionInfo &record : qAsConst(inventory.extensionInfo))
        targets << ScanTarget{record.name, record.packagePath,
                              inventory.extensionVersions.value(record.name)};
    return targets;
}
