#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class QNetworkAccessManager;

// What a feed answered, as the scan needs it.
struct FeedAnswer
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool tooLarge = false;
    QString version;      // the version the feed announces
    QDateTime answeredAt; // when the feed answered or gave up, in local time
};
Q_DECLARE_METATYPE(FeedAnswer)

// Feed answers by address, kept for a few minutes so that the refreshes after an install,
// removal, update or reset ask no feed again; failures are kept too, so a feed host that never
// answers costs its timeout once, not at every refresh. Safe to use from any thread.
class FeedAnswerCache
{
public:
    static int lifetimeMs();
    static void setLifetimeMs(int milliseconds); // tests shorten it

    bool find(const QString &url, FeedAnswer *answer) const;
    void store(const QString &url, const FeedAnswer &answer);
    void clear();

private:
    struct Entry
    {
        FeedAnswer answer;
        QElapsedTimer age;
    };
    mutable QMutex m_mutex;
    QHash<QString, Entry> m_answers;
};

// Asks update feeds on a thread of its own, so that requests go out, answers come in and
// timeouts run while the window's thread is busy: the listing and the table fill block it.
// Each address is asked once at a time, with the no-progress timeout and the overall limit.
// Every answer goes into the cache before it is announced, so whoever misses the signal finds
// it there.
class FeedFetcher : public QObject
{
    Q_OBJECT

public:
    // Made on any thread, then moved to the one it works on.
    explicit FeedFetcher(FeedAnswerCache &answers);

    // Safe from any thread: the request is made on the fetcher's thread. An address with a
    // fresh answer in the cache is answered from there; one being asked is not asked again.
    void ask(const QString &url);

    // Network access managers one host's requests may spread over, six requests each (40).
    static int laneLimit();
    static void setLaneLimit(int lanes); // tests lower it

signals:
    void answered(const QString &url, const FeedAnswer &answer);

private:
    void request(const QString &url);
    int freeLane(const QString &host);
    void send(const QString &url, const QString &host, int lane);
    void done(const QString &url, const QString &host, int lane, const FeedAnswer &answer);
    static QString hostOf(const QString &url);

    FeedAnswerCache &m_answers;
    // One network access manager opens at most six connections to a host and queues the rest
    // with their timers already running. So that every feed is asked at once even where many
    // sit on one host, a host's requests beyond six go to further managers, "lanes", made when
    // needed and let go once nothing is asked. Past the lane limit requests wait here, each
    // clock starting only when its request is sent, so feeds that never answer cannot time out
    // the ones behind them.
    QList<QNetworkAccessManager *> m_lanes;
    QHash<QString, QVector<int>> m_sentToHost; // host -> requests in flight on each lane
    QHash<QString, QStringList> m_queuedForHost;
    QSet<QString> m_asked; // sent or queued, not answered yet
};
