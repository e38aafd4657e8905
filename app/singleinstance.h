#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// One window per user. The first start listens on a local socket in the user's own runtime
// folder (on Windows a named pipe open to the user's account alone); a later start hands its
// package, or nothing, to the window already open and ends.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // A message longer than this (a path and its framing) is refused unread.
    static constexpr int MaxMessageBytes = 8192;
    // How long a connection may take to say what it wants.
    static constexpr int ReadLimitMs = 3000;

    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Where this user's running window listens.
    static QString defaultServerName();

    // For a start that has no window yet: gives `path` (empty: just show yourself) to the
    // running window. False when no window answers within `timeoutMs`; this waits, so it is
    // never called once a window is up.
    bool handOver(const QString &path, int timeoutMs = 2000) const;

    // Takes the name; false when that fails (another start took it a moment ago, or the folder
    // cannot hold it). A name left behind by a start that crashed is taken over.
    bool listen();

    // What the messages look like on the socket; tests write their own.
    static QByteArray message(const QString &path);

signals:
    // Checked to be one absolute path (or empty), nothing more; whether a file is there is the
    // receiver's question.
    void packageHandedOver(const QString &path);

private:
    void readFrom(QLocalSocket *socket);

    QString m_name;
    QLocalServer *m_server = nullptr;
};
