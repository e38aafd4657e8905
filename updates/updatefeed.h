#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QNetworkReply>
#include <QString>

#include <functional>

// Network requests of the update flow: the feed request, the shared wait for a reply and the
// plain words that explain a failed download.

// Feeds larger than this are not read into memory; they count as announcing no update.
constexpr qint64 MaxFeedBytes = 4 * 1024 * 1024;
// What a feed's reply may hold unread. Without a bound, the network thread reads on while the
// reply waits its turn, and a large body sits in memory before the cap above is checked.
constexpr qint64 FeedReadBufferBytes = 64 * 1024;

// Appends what the reply has to the body, up to one byte past MaxFeedBytes, and aborts the
// reply once the body passes that cap; true when it has.
bool takeFeedBody(QNetworkReply *reply, QByteArray *body);

// A request that makes no progress for this long is given up as a network error (TimeoutError).
int networkStallTimeoutMs();
void setNetworkStallTimeoutMs(int milliseconds); // tests shorten it

// A server that sends a byte now and then never lets the no-progress timer run out; these bound
// the whole request however steadily it trickles. Tests shorten them.
int feedTimeLimitMs(); // 20 s
void setFeedTimeLimitMs(int milliseconds);
int downloadTimeLimitMs(); // 10 minutes
void setDownloadTimeLimitMs(int milliseconds);

// No extension package is this large: a download that announces or reaches more is given up
// before it fills the disk. Tests lower it.
qint64 maxDownloadBytes(); // 512 MiB
void setMaxDownloadBytes(qint64 bytes);

// A download slower than 1 KiB/s, averaged over a minute, is given up as stalled.
constexpr qint64 MinDownloadBytesPerWindow = 60 * 1024;
constexpr int DownloadRateWindowMs = 60 * 1000;

// Lets a front stop a wait for a reply (a download) from its event loop.
class DownloadCancel
{
public:
    // Ends the wait under way, if any, as cancelled, and every later one at once.
    void cancel()
    {
        m_cancelled = true;
        if (m_stop)
            m_stop();
    }
    bool isCancelled() const { return m_cancelled; }
    // Set by the wait while it runs.
    void setStop(std::function<void()> stop) { m_stop = std::move(stop); }

private:
    bool m_cancelled = false;
    std::function<void()> m_stop;
};

struct ReplyLimits
{
    qint64 maxBodyBytes = -1; // announced or received; no limit when not positive
    QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    // Fewer bytes than this arriving within one window of rateWindowMs ends the request;
    // no minimum when not positive.
    qint64 minBytesPerWindow = 0;
    int rateWindowMs = DownloadRateWindowMs;
    DownloadCancel *cancel = nullptr; // none when null
};

enum class ReplyWait {
    Finished,
    TimedOut,  // no progress for the stall time-out; aborted
    TooSlow,   // under the minimum rate, or still arriving at the deadline; aborted
    TooLarge,  // aborted
    Cancelled, // through ReplyLimits::cancel; aborted
};

// Waits for the reply's finished signal in a local event loop, so other events go on being
// handled meanwhile. A reply without progress for networkStallTimeoutMs(), or that breaks one of
// the limits, is aborted.
ReplyWait waitForReply(QNetworkReply *reply, const ReplyLimits &limits = ReplyLimits());

struct FeedResponse
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString body;          // decoded as UTF-8 whatever the reply or the XML says
    bool tooLarge = false; // aborted; body and error stay empty
};

// GETs the update feed with its own network access manager; redirects are not followed.
FeedResponse requestUpdateFeed(const QString &url);

struct UpdateFeed
{
    QString version;  // text of the first <version> element, anywhere in the document
    QString download; // text of the first <download> element
};

UpdateFeed parseUpdateFeed(const QString &body);

// "ConnectionRefusedError" and the like, for debug lines.
QString networkErrorName(QNetworkReply::NetworkError error);

// Why a feed could not be read, in words for the user ("the server could not be reached").
QString feedFailureWords(QNetworkReply::NetworkError error);

// Why the download address that the lookup gave cannot be fetched, in words for the user;
// empty when it is a real address.
QString lookupFailureReason(const QString &address);

// Why a download over maxDownloadBytes() was given up, in words for the user.
QString oversizedDownloadReason();

// Why a finished download cannot be installed, in words for the user; empty when it can.
QString downloadFailureReason(QNetworkReply::NetworkError error, int httpStatus,
                              const QString &errorString, qint64 bodySize);

// Where a downloaded update waits for the installer: the temporary folder, unless its path holds
// letters beyond ASCII (an account name such as "Zoë"), which Adobe's tool refuses with "-160";
// then the fallback, a folder whose path is plain ASCII. Creates nothing: the download makes its
// folder there with care (platform/privatefolder.h).
QString downloadFolderBase(const QString &temporaryFolder, const QString &fallback);
