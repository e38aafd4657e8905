#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace {
constexpr char Greeting[] = "panelhold-open ";
} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_name(serverName)
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultServerName()
{
#ifdef Q_OS_WIN
    // Pipe names are shared by every account; the user's name and profile make ours theirs
    // alone, and the pipe itself admits only its owner.
    const QByteArray user = qgetenv("USERNAME") + '|' + QDir::homePath().toUtf8();
    return QStringLiteral("VelmoraPanelhold-") +
           QString::fromLatin1(
               QCryptographicHash::hash(user, QCryptographicHash::Sha256).toHex().left(16));
#else
    // The runtime folder belongs to the user and no one else can enter it, so no other
    // account can put a socket where ours is looked for.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return (folder.isEmpty() ? QDir::homePath() : folder) +
           QStringLiteral("/velmora-panelhold-window");
#endif
}

QByteArray SingleInstance::message(const QString &path)
{
    return QByteArray(Greeting) + path.toUtf8() + '\n';
}

bool SingleInstance::handOver(const QString &path, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    const QByteArray bytes = message(path);
    if (bytes.size() > MaxMessageBytes)
        return false;
    socket.write(bytes);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        // No window answered before we got here, so what holds the name is left over.
        if (m_server->serverError() != QAbstractSocket::AddressInUseError)
            return false;
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            socket->setReadBufferSize(MaxMessageBytes + 1);
            // A connection that keeps quiet is dropped, not waited for.
            QTimer::singleShot(ReadLimitMs, socket, [socket] { socket->abort(); });
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readFrom(socket);
        }
    });
    return true;
}

void SingleInstance::readFrom(QLocalSocket *socket)
{
    if (socket->property("done").toBool())
        return;
    const QByteArray head = socket->peek(MaxMessageBytes + 1);
    const int end = head.indexOf('\n');
    if (end < 0) {
        if (head.size() > MaxMessageBytes)
            socket->abort();
        return; // the rest is still on its way
    }
    socket->setProperty("done", true);
    const QByteArray line = head.left(end);
    socket->abort();

    // Only one absolute path, in valid UTF-8 without control characters, is taken.
    if (!line.startsWith(Greeting))
        return;
    const QByteArray bytes = line.mid(int(sizeof(Greeting)) - 1);
    const QString path = QString::fromUtf8(bytes);
    if (path.toUtf8() != bytes || path.contains(QChar::ReplacementCharacter))
        return;
    for (const QChar c : path) {
        if (c.category() == QChar::Other_Control)
            return;
    }
    if (!path.isEmpty() && !QDir::isAbsolutePath(path))
        return;
    emit packageHandedOver(QDir::cleanPath(path));
}
