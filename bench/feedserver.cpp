#include "feedserver.h"

FeedServer::~FeedServer()
{
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            delete m_server;
            m_server = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_context->deleteLater();
    m_thread.quit();
    m_thread.wait();
}

bool FeedServer::start()
{
    m_thread.setObjectName(QStringLiteral("feed server"));
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    bool listening = false;
    // Created in the thread, so its sockets and delay timers belong to that thread's loop.
    QMetaObject::invokeMethod(
        m_context,
        [this, &listening] {
            m_server = new LocalHttpServer;
            listening = m_server->isListening();
            m_base = m_server->url(QString()).toString();
        },
        Qt::BlockingQueuedConnection);
    return listening;
}

QUrl FeedServer::url(const QString &path) const
{
    return QUrl(m_base + path);
}

void FeedServer::setRoutes(const QList<QPair<QString, LocalHttpServer::Route>> &routes)
{
    QMetaObject::invokeMethod(
        m_context,
        [this, &routes] {
            for (const auto &route : routes)
                m_server->setRoute(route.first, route.second);
        },
        Qt::BlockingQueuedConnection);
}

int FeedServer::requestCount() const
{
    int count = 0;
    QMetaObject::invokeMethod(
        m_context, [this, &count] { count = m_server->requestedPaths().size(); },
        Qt::BlockingQueuedConnection);
    return count;
}
