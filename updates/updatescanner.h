#pragma once

#include "updates/feedfetcher.h"
#include "updates/manifest.h"

#include <QDateTime>
#include <QFuture>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>

class Inventory;

// One installed extension the scan looks at.
struct ScanTarget
{
    QString name;
    QString packagePath;
    QString installedVersion;
};

// Every extension of the inventory, with the version listed last. Copies: the inventory may be
// rebuilt while feeds are still answering. Reads the databases first when nothing filled the
// records yet.
QList<ScanTarget> scanTargets(Inventory &inventory);

// What the manifests of one package name, and the file version it was read from.
struct PackageManifests
{
    QString packagePath;
    qint64 size = -1; // -1: the file does not exist
    QDateTime modified;
    bool readable = false; // false when the file cannot be opened as an archive
    PackageProblem problem = PackageProblem::None; // why not, when the user should hear of it
    QList<ManifestUpdateUrl> manifests;
};

// Reads the package's manifests now. Safe on any thread: it touches nothing shared.
PackageManifests readPackageManifests(const QString &packagePath);

// The feed addresses a package's manifests name, read again only when the file changed.
class ManifestUrlCache
{
public:
    // True when the package's file is the one last read; *found is what it named then.
    bool find(const QString &packagePath, PackageManifests *found) const;
    // A read that ran out of time is not kept: the next scan, on a quieter machine, tries again.
    void store(const PackageManifests &read);

private:
    QHash<QString, PackageManifests> m_entries;
};

// What the last scan that looked at an extension found out about its updates.
struct FeedCheck
{
    bool checked = false;     // false: no scan has looked at it yet
    QString feedAddress;      // as its package's manifest names it; empty when none does
    QString announcedVersion; // what the feed announced, newer or not
    QString failure;          // why the feed or the package could not be read, in words
    QDateTime answeredAt;     // when the feed answered; invalid without an answer
};

// Looks for newer versions of the installed extensions: every feed is asked at once, through
// the fetcher's thread, and each address once per scan. Packages whose manifests are not known
// yet are read on worker threads, and each feed is asked as soon as a manifest names it, so the
// window stays usable meanwhile. Reports each newer version as its feed answers and finishes
// when every package is read and the last feed answered or gave up.
class UpdateScanner : public QObject
{
    Q_OBJECT

public:
    explicit UpdateScanner(QObject *parent = nullptr);
    ~UpdateScanner() override;

    // Reads these packages' manifests on a worker thread and asks their feeds at once, before
    // a scan names them: at start-up the answers come in while the tools list.
    void readAhead(const QStringList &packagePaths);

    // Starts a scan; one under way is dropped first, and nothing more comes from it. Its feeds
    // still answer into the cache.
    void start(const QList<ScanTarget> &targets);
    void cancel();
    bool isRunning() const { return m_running; }

    // Waits a moment for the packages under way, so that Adobe's tool may replace or delete them,
    // but never longer than the turn wait: reads still under way then are abandoned (their results
    // dropped, their threads left to end within a package's deadline), and their extensions go
    // unchecked in this scan. Where an abandoned read meets the tool, see updatescanner.cpp.
    void finishReading();
    static void setTurnWaitMs(int milliseconds); // tests shorten it

    // What the scans found out about the extension so far; kept across scans.
    FeedCheck lastCheck(const QString &name) const { return m_checks.value(name); }

    // The next scan asks every feed afresh.
    void forgetAnswers() { m_answers.clear(); }

signals:
    void updateFound(const QString &name, const QString &announcedVersion);
    // The extension's feed could not be asked or read; `reason` in words for the user.
    void feedFailed(const QString &name, const QString &reason);
    void finished();

private:
    struct Pending
    {
        QString name;
        QString installedVersion;
        QString url;
    };

    void takeReadAhead();
    void dropReadAhead();
    void dropReading();
    // A scan that started while packages were read ahead follows its extensions now.
    void followAfterReadAhead();
    void finishSoon();
    // Packages not read yet are read on worker threads, unless `readUnknown` is false: then their
    // extensions go unchecked.
    void followTargets(const QList<ScanTarget> &targets, bool readUnknown = true);
    void follow(const ScanTarget &target, const PackageManifests &read);
    void feedAnswered(const QString &url, const FeedAnswer &answer);
    void answered(const QString &url, const FeedAnswer &answer);
    void report(const Pending &pending, const FeedAnswer &answer);
    void finishIfDone();

    FeedAnswerCache m_answers; // shared with the fetcher's thread
    QThread m_fetchThread;
    FeedFetcher *m_fetcher; // lives in m_fetchThread
    ManifestUrlCache m_manifests;
    QThreadPool m_readAheadPool;
    QFuture<QList<PackageManifests>> m_readingAhead;
    // Set to stop the read-ahead between packages once nobody wants its result.
    std::shared_ptr<std::atomic<bool>> m_readAheadDropped;
    QList<QFuture<QList<PackageManifests>>> m_droppedAhead; // maybe still under way
    // A scan that started while packages were read ahead follows its extensions after that.
    bool m_waitingForReadAhead = false;
    QList<ScanTarget> m_targetsAfterReadAhead;
    QMultiHash<QString, Pending> m_waiting;   // feed address -> extensions waiting for it
    QHash<QString, FeedAnswer> m_answeredNow; // what this scan's feeds answered, by address
    QPointer<QFutureWatcher<PackageManifests>> m_reading; // packages still being read, if any
    QList<QFuture<PackageManifests>> m_givenUp; // reads of dropped scans, maybe still under way
    QSet<QString> m_found;                      // looked up per answer
    QHash<QString, FeedCheck> m_checks;         // by extension name
    bool m_running = false;
    quint64 m_generation = 0; // tells the answers of a dropped scan from the current one's
};
