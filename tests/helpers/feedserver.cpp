#include "feedserver.h"

FeedServer::~FeedServer()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            qDeleteAll(m_servers);
            m_servers.clear();
        },
        Qt::BlockingQueuedConnection);
    m_context->deleteLater();
    m_thread.quit();
    m_thread.wait();
}

bool FeedServer::start(int hosts)
{
    m_thread.setObjectName(QStringLiteral("feed server"));
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    bool listening = true;
    // Created in the thread, so their sockets and delay timers belong to that thread's loop.
    QMetaObject::invokeMethod(
        m_context,
        [this, hosts, &listening] {
            for (int i = 0; i < hosts && listening; ++i) {
                auto *server = new LocalHttpServer;
                m_servers << server;
                listening = server->isListening();
                m_bases << server->url(QString()).toString();
            }
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

QUrl FeedServer::url(const QString &path, int host) const
{
    return QUrl(m_bases.value(host) + path);
}

void FeedServer::setRoutes(const QList<QPair<QString, LocalHttpServer::Route>> &routes)
{
    // Every host serves every path; the bodies are shared, not copied.
    QMetaObject::invokeMethod(
        m_context,
        [this, &routes] {
            for (LocalHttpServer *server : qAsConst(m_servers)) {
                for (const auto &route : routes)
                    server->setRoute(route.first, route.second);
            }
        },
        Qt::BlockingQueuedConnection);
}

int FeedServer::requestCount() const
{
    int count = 0;
    QMetaObject::invokeMethod(
        m_context,
        [this, &count] {
            for (const LocalHttpServer *server : qAsConst(m_servers))
                count += server->requestedPaths().size();
        },
        Qt::BlockingQueuedConnection);
    return count;
}

qint64 FeedServer::bytesSent() const
{
    qint64 sent = 0;
    QMetaObject::invokeMethod(
        m_context,
        [this, &sent] {
            for (const LocalHttpServer *server : qAsConst(m_servers))
                sent += server->bytesSent();
        },
        Qt::BlockingQueuedConnection);
    return sent;
}
