#pragma once

#include "localhttpserver.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QThread>
#include <QUrl>

// The update feeds of a scenario, served on 127.0.0.1 from a thread of the bench's driver
// process. The window under measurement runs in a child process, so neither its event loop nor
// the driver's blocking waits can hold an answer back.
class FeedServer
{
public:
    FeedServer() = default;
    ~FeedServer();
    Q_DISABLE_COPY(FeedServer)

    // Starts the thread and the listening socket; false when nothing listens.
    bool start();
    QUrl url(const QString &path) const;

    // Replaces or adds routes; waits until the server thread has taken them.
    void setRoutes(const QList<QPair<QString, LocalHttpServer::Route>> &routes);
    // Requests answered or still open, over the server's life.
    int requestCount() const;

private:
    QThread m_thread;
    QObject *m_context = nullptr; // lives in the thread; carries the calls into it
    LocalHttpServer *m_server = nullptr;
    QString m_base;
};
