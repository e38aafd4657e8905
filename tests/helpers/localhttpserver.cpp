#include "localhttpserver.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

LocalHttpServer::LocalHttpServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, &LocalHttpServer::handleConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl LocalHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void LocalHttpServer::serve(const QString &path, const QByteArray &body,
                            const QByteArray &contentType)
{
    Route route;
    route.body = body;
    route.contentType = contentType;
    m_routes.insert(path, route);
}

void LocalHttpServer::redirect(const QString &path, const QUrl &to, int status)
{
    Route route;
    route.status = status;
    route.location = to.toEncoded();
    m_routes.insert(path, route);
}

void LocalHttpServer::handleConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *buffer = new QByteArray;
        connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
            delete buffer;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::bytesWritten, this,
                [this](qint64 written) { m_bytesSent += written; });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const int end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QList<QByteArray> lines = buffer->left(end).split('\n');
            buffer->clear();
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            const QString target = QString::fromUtf8(requestLine.value(1));
            const QString path = QUrl(target).path();
            m_paths.append(path);
            for (const QByteArray &line : lines) {
                if (line.toLower().startsWith("user-agent:"))
                    m_lastUserAgent = line.mid(11).trimmed();
            }

            const Route route = m_routes.value(
                path, Route{404, "not found", "text/plain", {}, 0, false, false, true});
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(route.delayMs, socket, [guard, route] {
                if (!guard)
                    return;
                if (route.dropConnection) {
                    guard->abort();
                    return;
                }
                QByteArray reply = "HTTP/1.1 " + QByteArray::number(route.status) + " Status\r\n";
                reply += "Content-Type: " + route.contentType + "\r\n";
                if (!route.location.isEmpty())
                    reply += "Location: " + route.location + "\r\n";
                if (route.announceLength)
                    reply += "Content-Length: " +
                             QByteArray::number(route.body.size() + route.fillerBytes) + "\r\n";
                reply += "Connection: close\r\n\r\n";
                if (route.stall) {
                    guard->write(reply + route.body.left(route.body.size() / 2));
                    return; // never finish
                }
                if (route.trickleMs > 0) {
                    guard->write(reply);
                    auto *timer = new QTimer(guard);
                    auto sent = std::make_shared<int>(0);
                    connect(timer, &QTimer::timeout, guard, [guard, timer, route, sent] {
                        if (*sent == route.body.size()) {
                            timer->stop();
                            guard->disconnectFromHost();
                            return;
                        }
                        guard->write(route.body.mid((*sent)++, 1));
                    });
                    timer->start(route.trickleMs);
                    return;
                }
                guard->write(reply + route.body);
                if (route.fillerBytes > 0) {
                    // Topped up as it drains: a client that stops reading stops the sending.
                    auto left = std::make_shared<qint64>(route.fillerBytes);
                    const auto topUp = [guard, left] {
                        const qint64 Piece = 64 * 1024;
                        while (guard && *left > 0 && guard->bytesToWrite() < 4 * Piece) {
                            const qint64 size = qMin(*left, Piece);
                            guard->write(QByteArray(int(size), ' '));
                            *left -= size;
                        }
                        if (guard && *left == 0)
                            guard->disconnectFromHost();
                    };
                    connect(guard, &QTcpSocket::bytesWritten, guard, topUp);
                    topUp();
                    return;
                }
                guard->disconnectFromHost();
            });
        });
    }
}
