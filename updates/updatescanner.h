#pragma once

#include "updates/manifest.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class Inventory;
class QNetworkAccessManager;
class QTimer;

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

// What a feed answered, as the scan needs it.
struct FeedAnswer
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool tooLarge = false;
    QString version; // the version the feed announces
};

// Feed answers by address, kept for a few minutes so that the refreshes after an install,
// removal, update or reset ask no feed again; failures are kept too, so a feed host that never
// answers costs its timeout once, not at every refresh.
class FeedAnswerCache
{
public:
    static int lifetimeMs();
    static void setLifetimeMs(int milliseconds); // tests shorten it

    bool find(const QString &url, FeedAnswer *answer) const;
    void store(const QString &url, const FeedAnswer &answer);
    void clear() { m_answers.clear(); }

private:
    struct Entry
    {
        FeedAnswer answer;
        QElapsedTimer age;
    };
    QHash<QString, Entry> m_answers;
};

// What the manifests of one package name, and the file version it was read from.
struct PackageManifests
{
    QString packagePath;
    qint64 size = -1; // -1: the file does not exist
    QDateTime modified;
    bool readable = false; // false when the file cannot be opened as an archive
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
    void store(const PackageManifests &read);

private:
    QHash<QString, PackageManifests> m_entries;
};

// Looks for newer versions of the installed extensions: every feed is asked at once, each
// request with the no-progress timeout and the overall limit, and each address once per scan. Packages whose manifests are not known yet are read on worker
// threads, and each feed is asked as soon as a manifest names it, so the window stays usable
// meanwhile. Reports each newer version as its feed answers and finishes when every package is
// read and the last feed answered or gave up.
class UpdateScanner : public QObject
{
    Q_OBJECT

public:
    explicit UpdateScanner(QObject *parent = nullptr);
    ~UpdateScanner() override;

    // Starts a scan; one under way is dropped first, and nothing more comes from it.
    void start(const QList<ScanTarget> &targets);
    void cancel();
    bool isRunning() const { return m_running; }

    // Blocks until the packages under way are read (each read is bounded), so that Adobe's tool
    // may replace or delete them: a file being read cannot be deleted on Windows.
    void finishReading();

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
    };

    void follow(const ScanTarget &target, const PackageManifests &read);
    void request(const QString &url);
    int freeLane(const QString &host);
    void send(const QString &url, int lane);
    void releaseExtraLanes();
    static QString hostOf(const QString &url);
    void answered(const QString &url, const FeedAnswer &answer);
    void report(const Pending &pending, const FeedAnswer &answer);
    void finishIfDone();

    // One network access manager opens at most six connections to a host and queues the rest
    // with their timers already running. So that every feed is asked at once even where many
    // sit on one host, a host's requests beyond six go to further managers, "lanes", made for
    // the scan and let go when it ends. Past the last lane the scan queues requests itself,
    // each clock starting only when its request is sent, so feeds that never answer cannot
    // time out the ones behind them.
    QList<QNetworkAccessManager *> m_lanes;
    FeedAnswerCache m_answers;
    ManifestUrlCache m_manifests;
    QMultiHash<QString, Pending> m_waiting;   // feed address -> extensions waiting for it
    QHash<QString, FeedAnswer> m_answeredNow; // what this scan's feeds answered, by address
    QPointer<QFutureWatcher<PackageManifests>> m_reading; // packages still being read, if any
    QList<QPointer<QNetworkReply>> m_replies;
    QHash<QString, QVector<int>> m_sentToHost; // host -> requests in flight on each lane
    QHash<QString, QStringList> m_queuedForHost;
    QStringList m_found;
    bool m_running = false;
    quint64 m_generation = 0; // tells the answers of a dropped scan from the current one's
};
