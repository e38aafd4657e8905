#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

// A small HTTP/1.1 server on 127.0.0.1 for tests: serves bodies, statuses, redirects, delays,
// stalls, trickles and dropped connections, one route per path.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Route
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/octet-stream";
        QByteArray location;         // for redirects
        int delayMs = 0;             // before answering
        bool dropConnection = false; // close without answering
        bool stall = false;          // send the headers and part of the body, then nothing
        bool announceLength = true;  // send Content-Length
        int trickleMs = 0;           // send the body a byte at a time, this far apart
        // After the body, this many more bytes, written only as fast as the client takes them.
        qint64 fillerBytes = 0;
    };

    LocalHttpServer();

    bool isListening() const { return m_server.isListening(); }
    QUrl url(const QString &path) const;

    void serve(const QString &path, const QByteArray &body,
               const QByteArray &contentType = "text/xml");
    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    void redirect(const QString &path, const QUrl &to, int status = 302);
    // Answers with the body only after the delay (content type as a default route has it).
    void serveAfter(const QString &path, const QByteArray &body, int delayMs)
    {
        Route route;
        route.body = body;
        route.delayMs = delayMs;
        setRoute(path, route);
    }

    // Requests seen so far: path and User-Agent header.
    QStringList requestedPaths() const { return m_paths; }
    QByteArray lastUserAgent() const { return m_lastUserAgent; }
    // Bytes of answers handed to the network so far, headers included.
    qint64 bytesSent() const { return m_bytesSent; }

private:
    void handleConnection();

    QTcpServer m_server;
    QMap<QString, Route> m_routes;
    QStringList m_paths;
    QByteArray m_lastUserAgent;
    qint64 m_bytesSent = 0;
};
