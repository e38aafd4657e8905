#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Reads a Sparkle-style RSS appcast and tells whether a newer version than ours is published.
// A silent check speaks only when there is a newer version; an interactive one always answers.
class AppcastChecker : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { UpToDate, NewerVersion, Failed };
    Q_ENUM(Outcome)

    struct Release
    {
        QString version; // compared with ours
        QString displayVersion;
        QUrl link; // where the user gets it
    };

    explicit AppcastChecker(QObject *parent = nullptr);

    void setFeedUrl(const QUrl &url) { m_feedUrl = url; }
    QUrl feedUrl() const { return m_feedUrl; }
    void setCurrentVersion(const QString &version) { m_currentVersion = version; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    // Starts a check and returns at once; a running check is not started twice.
    void check(bool interactive);
    bool isChecking() const { return !m_reply.isNull(); }

    // The newest release of an appcast document; an empty version when it names none.
    static Release newestRelease(const QByteArray &appcast);

signals:
    void checkFinished(AppcastChecker::Outcome outcome, const QString &detail);

private:
    void takeBody();
    void replyFinished();
    void report(Outcome outcome, const QString &detail, const Release &release);

    QUrl m_feedUrl;
    QString m_currentVersion;
    int m_timeoutMs = 30000;
    bool m_interactive = false;
    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body; // of the running check's reply, read as it arrives
    QTimer *m_timeout;
};
