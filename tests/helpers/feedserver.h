#pragma once

#include "localhttpserver.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>

// Update feeds served on 127.0.0.1 from a thread of their own, so that neither the event loop
// of the thread that made them nor its blocking waits can hold an answer back (the bench serves
// its scenario's feeds with it; tests, while the window's thread is kept busy). The one thread
// may listen on several ports: to the window each port is a host of its own, as real feeds sit
// on many vendors' hosts.
class FeedServer
{
public:
    FeedServer() = default;
    ~FeedServer();
    Q_DISABLE_COPY(FeedServer)

    // Starts the thread and one listening socket per host; false when one does not listen.
    bool start(int hosts = 1);
    int hostCount() const { return m_bases.size(); }
    // The path on the given host (0 .. hostCount() - 1).
    QUrl url(const QString &path, int host = 0) const;

    // Replaces or adds routes on every host; waits until the server thread has taken them.
    void setRoutes(const QList<QPair<QString, LocalHttpServer::Route>> &routes);
    // Requests answered or still open on all hosts, over the server's life.
    int requestCount() const;
    // Bytes of answers handed to the network on all hosts, over the server's life.
    qint64 bytesSent() const;

private:
    QThread m_thread;
    QObject *m_context = nullptr; // lives in the thread; carries the calls into it
    QList<LocalHttpServer *> m_servers;
    QStringList m_bases;
};
