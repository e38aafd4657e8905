#include "updates/updatescanner.h"

#include "inventory/inventory.h"
#include "platform/platform.h"
#include "updates/updatefeed.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTimer>
#include <QtConcurrent>
#include <QtDebug>
#include <algorithm>
#include <utility>

namespace {
std::atomic<int> turnWaitMs{2000};

// Polled: QFuture::waitForFinished() may run a read that has not started yet on the waiting
// thread itself, past any bound.
template <typename T> bool finishedBy(const QFuture<T> &future, const QDeadlineTimer &deadline)
{
    while (!future.isFinished()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(2);
    }
    return true;
}
} // namespace

PackageManifests readPackageManifests(const QString &packagePath)
{
    PackageManifests read;
    read.packagePath = packagePath;
    const QFileInfo info(packagePath);
    read.size = info.exists() ? info.size() : -1;
    read.modified = info.lastModified();
    read.readable = readManifestUpdateUrls(packagePath, &read.manifests, &read.problem);
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
    if (read.problem == PackageProblem::TooSlow)
        return;
    m_entries.insert(read.packagePath, read);
}

UpdateScanner::UpdateScanner(QObject *parent)
    : QObject(parent), m_fetcher(new FeedFetcher(m_answers))
{
    m_readAheadPool.setMaxThreadCount(1);
    qRegisterMetaType<FeedAnswer>();
    m_fetcher->moveToThread(&m_fetchThread);
    connect(&m_fetchThread, &QThread::finished, m_fetcher, &QObject::deleteLater);
    connect(m_fetcher, &FeedFetcher::answered, this, &UpdateScanner::feedAnswered);
    // When the processors are busy the listing goes first; the feeds' turn comes soon enough.
    connect(&m_fetchThread, &QThread::started, m_fetcher, &Platform::lowerThreadPriority);
    m_fetchThread.setObjectName(QStringLiteral("update feeds"));
    m_fetchThread.start();
}

UpdateScanner::~UpdateScanner()
{
    cancel();
    // Packages read ahead ask the fetcher from worker threads; it outlives them. They stop at
    // the next package, so this waits for one package's read at most.
    if (m_readAheadDropped)
        *m_readAheadDropped = true;
    m_readingAhead.waitForFinished();
    for (QFuture<QList<PackageManifests>> &dropped : m_droppedAhead)
        dropped.waitForFinished();
    m_fetchThread.quit();
    m_fetchThread.wait();
}

void UpdateScanner::cancel()
{
    ++m_generation;
    m_waiting.clear();
    m_answeredNow.clear();
    m_waitingForReadAhead = false;
    m_targetsAfterReadAhead.clear();
    // Packages still being read are given up; nothing more comes of them, but a read under way
    // goes on until its end, and finishReading() still waits for it.
    if (m_reading) {
        m_givenUp << m_reading->future();
        dropReading();
    }
    m_givenUp.erase(std::remove_if(m_givenUp.begin(), m_givenUp.end(),
                                   [](const QFuture<PackageManifests> &reading) {
                                       return reading.isFinished();
                                   }),
                    m_givenUp.end());
    m_running = false;
}

void UpdateScanner::readAhead(const QStringList &packagePaths)
{
    takeReadAhead();
    // One worker thread, reading the packages in turn and asking each feed as soon as it is
    // named: the listing that runs meanwhile keeps the other core.
    FeedFetcher *fetcher = m_fetcher;
    const auto dropped = std::make_shared<std::atomic<bool>>(false);
    m_readAheadDropped = dropped;
    m_readingAhead = QtConcurrent::run(&m_readAheadPool, [fetcher, packagePaths, dropped] {
        // The pool is this work's alone; but a wait for it may run it on the waiting thread.
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            Platform::lowerThreadPriority();
        QList<PackageManifests> reads;
        for (const QString &path : packagePaths) {
            if (*dropped)
                break;
            reads << readPackageManifests(path);
            for (const ManifestUpdateUrl &manifest : qAsConst(reads.last().manifests)) {
                if (!manifest.crashed && !manifest.url.isEmpty())
                    fetcher->ask(manifest.url);
            }
        }
        return reads;
    });
    auto *watcher = new QFutureWatcher<QList<PackageManifests>>(this);
    connect(watcher, &QFutureWatcher<QList<PackageManifests>>::finished, this, [this, watcher] {
        watcher->deleteLater();
        if (watcher->future() != m_readingAhead)
            return; // taken already, and maybe followed by another
        followAfterReadAhead();
        finishIfDone();
    });
    watcher->setFuture(m_readingAhead);
}

void UpdateScanner::takeReadAhead()
{
    if (m_readingAhead.isCanceled() || !m_readingAhead.isStarted())
        return;
    const QList<PackageManifests> reads = m_readingAhead.result(); // waits for the end
    for (const PackageManifests &read : reads)
        m_manifests.store(read);
    m_readingAhead = QFuture<QList<PackageManifests>>();
}

void UpdateScanner::dropReadAhead()
{
    if (m_readingAhead.isFinished())
        return;
    *m_readAheadDropped = true;
    m_droppedAhead.erase(std::remove_if(m_droppedAhead.begin(), m_droppedAhead.end(),
                                        [](const QFuture<QList<PackageManifests>> &reading) {
                                            return reading.isFinished();
                                        }),
                         m_droppedAhead.end());
    m_droppedAhead << m_readingAhead;
    m_readingAhead = QFuture<QList<PackageManifests>>();
}

void UpdateScanner::dropReading()
{
    // Packages not started are not read; nothing more comes of the ones under way.
    m_reading->future().cancel();
    m_reading->disconnect(this);
    m_reading->deleteLater();
    m_reading = nullptr;
}

void UpdateScanner::followAfterReadAhead()
{
    takeReadAhead();
    if (!m_waitingForReadAhead)
        return;
    m_waitingForReadAhead = false;
    followTargets(std::exchange(m_targetsAfterReadAhead, {}));
}

void UpdateScanner::finishSoon()
{
    // Only once the caller has connected and returned.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation] {
        if (generation == m_generation)
            finishIfDone();
    });
}

void UpdateScanner::start(const QList<ScanTarget> &targets)
{
    cancel();
    m_running = true;
    m_found.clear();
    if (m_readingAhead.isRunning()) {
        // Its feeds are being asked already; the extensions wait for their answers once the
        // packages are known, and the window's thread does not wait meanwhile.
        m_waitingForReadAhead = true;
        m_targetsAfterReadAhead = targets;
    } else {
        takeReadAhead();
        followTargets(targets);
    }
    // Answers from memory came in at once; a scan with nothing to ask ends here too.
    finishSoon();
}

void UpdateScanner::followTargets(const QList<ScanTarget> &targets, bool readUnknown)
{
    // Packages read before and unchanged since are followed at once; the others are read on
    // worker threads, and each is followed as soon as it is read.
    QList<ScanTarget> unread;
    for (const ScanTarget &target : targets) {
        if (target.packagePath.isEmpty())
            continue;
        PackageManifests known;
        if (m_manifests.find(target.packagePath, &known))
            follow(target, known);
        else if (readUnknown)
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
}

void UpdateScanner::follow(const ScanTarget &target, const PackageManifests &read)
{
    FeedCheck &check = m_checks[target.name];
    check = FeedCheck();
    check.checked = true;
    if (!read.readable) {
        if (read.problem != PackageProblem::None) {
            check.failure = packageProblemWords(read.problem);
            emit feedFailed(target.name, check.failure);
        }
        return;
    }
    for (const ManifestUpdateUrl &manifest : read.manifests) {
        if (check.feedAddress.isEmpty() && !manifest.crashed)
            check.feedAddress = manifest.url;
        if (manifest.crashed) {
            qDebug() << "CRASH1";
            continue;
        }
        if (manifest.url.isEmpty())
            continue;
        const Pending pending{target.name, target.installedVersion, manifest.url};
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
            m_fetcher->ask(manifest.url);
    }
}

void UpdateScanner::feedAnswered(const QString &url, const FeedAnswer &answer)
{
    // Answers nobody waits for (read ahead, or asked by a dropped scan) are in the cache now.
    if (!m_running || !m_waiting.contains(url))
        return;
    answered(url, answer);
    finishIfDone();
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
    // The first feed its package names is the one the details tell of.
    FeedCheck &check = m_checks[pending.name];
    if (check.feedAddress == pending.url) {
        check.answeredAt = answer.answeredAt;
        check.announcedVersion = answer.version;
        check.failure.clear();
    }
    if (answer.tooLarge) {
        const QString failure = tr("its update feed is larger than a feed can be");
        if (check.feedAddress == pending.url)
            check.failure = failure;
        emit feedFailed(pending.name, failure);
        return;
    }
    if (answer.error != QNetworkReply::NoError) {
        const QString failure =
            tr("its update feed could not be read: %1").arg(feedFailureWords(answer.error));
        if (check.feedAddress == pending.url)
            check.failure = failure;
        emit feedFailed(pending.name, failure);
        return;
    }
    if (pending.installedVersion.isEmpty() || answer.version.isEmpty() ||
        compareVersions(pending.installedVersion.toUtf8(), answer.version.toUtf8()) != -1 ||
        m_found.contains(pending.name))
        return;
    m_found.insert(pending.name);
    emit updateFound(pending.name, answer.version);
}

void UpdateScanner::setTurnWaitMs(int milliseconds)
{
    turnWaitMs = milliseconds;
}

// Each package is read within its deadline, but there may be many, so a turn waits for them
// only so long. A read abandoned here may still hold a package while the tool works: on Linux
// and macOS the tool deletes or replaces it all the same, and the reader goes on with the old
// file. On Windows packages are opened sharing deletion (Platform::openRegularFile), so the tool
// may delete one; where Windows keeps the deleted name until the last handle closes (before
// Windows 10's POSIX deletion), a new file of the same name cannot be made until the reader
// lets go, at most one package's deadline later, and the tool reports that failure as it would
// for a file another program holds.
void UpdateScanner::finishReading()
{
    const QDeadlineTimer deadline(turnWaitMs);
    const bool aheadRead = finishedBy(m_readingAhead, deadline);
    if (!aheadRead)
        dropReadAhead();
    if (m_waitingForReadAhead) {
        // The scan waiting for it reads what it still needs now, not once the tool has begun;
        // after a read-ahead that took too long, it follows only what is known.
        if (aheadRead) {
            followAfterReadAhead();
        } else {
            m_waitingForReadAhead = false;
            followTargets(std::exchange(m_targetsAfterReadAhead, {}), false);
        }
        finishSoon();
    }
    if (m_reading && !finishedBy(m_reading->future(), deadline)) {
        dropReading();
        finishSoon();
    }
    for (const QFuture<PackageManifests> &reading : qAsConst(m_givenUp))
        finishedBy(reading, deadline);
    m_givenUp.clear();
}

void UpdateScanner::finishIfDone()
{
    if (!m_running || !m_waiting.isEmpty() || m_reading || m_waitingForReadAhead)
        return;
    m_running = false;
    emit finished();
}

QList<ScanTarget> scanTargets(Inventory &inventory)
{
    if (inventory.extensionInfo.isEmpty())
        inventory.readAdobeDatabases();
    QList<ScanTarget> targets;
    for (const ExtensionInfo &record : qAsConst(inventory.extensionInfo))
        targets << ScanTarget{record.name, record.packagePath,
                              inventory.extensionVersions.value(record.name)};
    return targets;
}
