#include "updates/updatescanner.h"

#include "inventory/inventory.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTimer>
#include <QtConcurrent>
#include <QtDebug>

namespace {
int answerLifetimeMs = 5 * 60 * 1000;
// What one network access manager sends to a host at once, and the managers a scan may use:
// up to 240 requests in flight to one host.
constexpr int ConnectionsPerLane = 6;
constexpr int MaxLanes = 40;
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

PackageManifests readPackageManifests(const QString &packagePath)
{
    PackageManifests read;
    read.packagePath = packagePath;
    const QFileInfo info(packagePath);
    read.size = info.exists() ? info.size() : -1;
    read.modified = info.lastModified();
    read.readable = readManifestUpdateUrls(packagePath, &read.manifests);
    return read;
}

bool ManifestUrlCache::find(const QString &packagePath, PackageManifests *found) const
{
    const auto entry = m_entries.constFind(packagePath);
    if (entry == m_entries.constEnd())
        return false;
    const QFileInfo info(packagePath);
    if (!info.exists() || entry->size != info.size() || entry->modified != info.lastModified())
        return false;
    *found = *entry;
    return true;
}

void ManifestUrlCache::store(const PackageManifests &read)
{
    m_entries.insert(read.packagePath, read);
}

UpdateScanner::UpdateScanner(QObject *parent) : QObject(parent)
{
    m_lanes << new QNetworkAccessManager(this);
}

UpdateScanner::~UpdateScanner()
{
    cancel();
}

void UpdateScanner::cancel()
{
    ++m_generation;
    m_waiting.clear();
    m_answeredNow.clear();
    m_sentToHost.clear();
    m_queuedForHost.clear();
    // Packages still being read are given up; nothing more comes of them.
    if (m_reading) {
        m_reading->future().cancel();
        m_reading->disconnect(this);
        m_reading->deleteLater();
        m_reading = nullptr;
    }
    const QList<QPointer<QNetworkReply>> replies = m_replies;
    m_replies.clear();
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (reply) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
    releaseExtraLanes();
    m_running = false;
}

void UpdateScanner::start(const QList<ScanTarget> &targets)
{
    cancel();
    m_running = true;
    m_found.clear();
    // Packages read before and unchanged since are followed at once; the others are read on
    // worker threads, and each is followed as soon as it is read.
    QList<ScanTarget> unread;
    for (const ScanTarget &target : targets) {
        if (target.packagePath.isEmpty())
            continue;
        PackageManifests known;
        if (m_manifests.find(target.packagePath, &known))
            follow(target, known);
        else
            unread << target;
    }
    if (!unread.isEmpty()) {
        auto *reading = new QFutureWatcher<PackageManifests>(this);
        m_reading = reading;
        connect(reading, &QFutureWatcher<PackageManifests>::resultReadyAt, this,
                [this, reading, unread](int index) {
                    const PackageManifests read = reading->resultAt(index);
                    m_manifests.store(read);
                    follow(unread.at(index), read);
                });
        connect(reading, &QFutureWatcher<PackageManifests>::finished, this, [this, reading] {
            reading->deleteLater();
            m_reading = nullptr;
            finishIfDone();
        });
        QStringList paths;
        for (const ScanTarget &target : qAsConst(unread))
            paths << target.packagePath;
        reading->setFuture(QtConcurrent::mapped(paths, readPackageManifests));
    }
    // Answers from memory came in at once; a scan with nothing to ask ends here too, but only
    // once the caller has connected and returned.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation)
            finishIfDone();
    });
}

void UpdateScanner::follow(const ScanTarget &target, const PackageManifests &read)
{
    if (!read.readable)
        return;
    for (const ManifestUpdateUrl &manifest : read.manifests) {
        if (manifest.crashed) {
            qDebug() << "CRASH1";
            continue;
        }
        if (manifest.url.isEmpty())
            continue;
        const Pending pending{target.name, target.installedVersion};
        // Asked and answered earlier in this scan: that answer holds for this extension too.
        const auto now = m_answeredNow.constFind(manifest.url);
        if (now != m_answeredNow.constEnd()) {
            report(pending, *now);
            continue;
        }
        const bool asked = m_waiting.contains(manifest.url);
        m_waiting.insert(manifest.url, pending);
        if (asked)
            continue;
        FeedAnswer remembered;
        if (m_answers.find(manifest.url, &remembered))
            answered(manifest.url, remembered);
        else
            request(manifest.url);
    }
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
    const int lane = freeLane(host);
    if (lane < 0)
        m_queuedForHost[host] << url;
    else
        send(url, lane);
}

int UpdateScanner::freeLane(const QString &host)
{
    QVector<int> &sent = m_sentToHost[host];
    for (int lane = 0; lane < sent.size(); ++lane) {
        if (sent.at(lane) < ConnectionsPerLane)
            return lane;
    }
    if (sent.size() == MaxLanes)
        return -1;
    sent.append(0);
    return sent.size() - 1;
}

void UpdateScanner::releaseExtraLanes()
{
    // Each manager keeps a thread and its idle connections; the first one serves every scan.
    while (m_lanes.size() > 1)
        m_lanes.takeLast()->deleteLater();
}

void UpdateScanner::send(const QString &url, int lane)
{
    const QString host = hostOf(url);
    ++m_sentToHost[host][lane];
    while (m_lanes.size() <= lane)
        m_lanes << new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    request.setRawHeader("User-Agent", "Fake User");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_lanes.at(lane)->get(request);
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
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, url, host, lane, timedOut, tooLarge] {
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
                answered(url, answer);
                --m_sentToHost[host][lane];
                QStringList &queued = m_queuedForHost[host];
                if (!queued.isEmpty())
                    send(queued.takeFirst(), lane);
                finishIfDone();
            });
}

void UpdateScanner::answered(const QString &url, const FeedAnswer &answer)
{
    m_answeredNow.insert(url, answer);
    const QList<Pending> waiting = m_waiting.values(url);
    m_waiting.remove(url);
    if (answer.tooLarge)
        qDebug().noquote() << "FEED TOO LARGE" << url;
    else if (answer.error != QNetworkReply::NoError)
        qDebug().noquote() << "ERROR LOADING" << url << networkErrorName(answer.error);
    // values() gives the latest first; report in the order the extensions were named.
    for (auto it = waiting.crbegin(); it != waiting.crend(); ++it)
        report(*it, answer);
}

void UpdateScanner::report(const Pending &pending, const FeedAnswer &answer)
{
    if (answer.tooLarge) {
        emit feedFailed(pending.name, tr("its update feed is larger than a feed can be"));
        return;
    }
    if (answer.error != QNetworkReply::NoError) {
        emit feedFailed(
            pending.name,
            tr("its update feed could not be read (%1)").arg(networkErrorName(answer.error)));
        return;
    }
    if (pending.installedVersion.isEmpty() || answer.version.isEmpty() ||
        compareVersions(pending.installedVersion.toUtf8(), answer.version.toUtf8()) != -1 ||
        m_found.contains(pending.name))
        return;
    m_found << pending.name;
    emit updateFound(pending.name, answer.version);
}

void UpdateScanner::finishReading()
{
    if (m_reading)
        m_reading->waitForFinished();
}

void UpdateScanner::finishIfDone()
{
    if (!m_running || !m_replies.isEmpty() || m_reading)
        return;
    m_running = false;
    releaseExtraLanes();
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
