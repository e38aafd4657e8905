#include "support/literalcipher.h"

#include "support/programkey.h"

#include <QCryptographicHash>
#include <QtDebug>

namespace {
enum Flags { Compressed = 1, Checksummed = 2, Digested = 4 };
constexpr int ChecksumSize = 2;
constexpr int DigestSize = 20;
} // namespace

LiteralCipher::LiteralCipher(quint32 keyLow, quint32 keyHigh)
    : m_key((quint64(keyHigh) << 32) | keyLow)
{
    for (int i = 0; i < 8; ++i)
        m_keyBytes.append(char((m_key >> (8 * i)) & 0xff));
}

QString LiteralCipher::decodeText(const QString &stored) const
{
    return QString::fromUtf8(decodeBytes(QByteArray::fromBase64(stored.toLatin1())));
}

QByteArray LiteralCipher::decodeBytes(QByteArray stored) const
{
    if (m_keyBytes.isEmpty()) {
        qWarning() << "No key set.";
        return QByteArray();
    }
    if (stored.size() < 3)
        return QByteArray();
    if (stored.at(0) != char(3)) {
        qWarning() << "Invalid version or not a cyphertext.";
        return QByteArray();
    }

    const int flags = quint8(stored.at(1));
    QByteArray body = stored.mid(2);

    // The chain feeds each scrambled byte into the next position, so one damaged byte
    // spoils two plain bytes, which the checksum or digest then catches.
    char previous = 0;
    for (int i = 0; i < body.size(); ++i) {
        const char scrambled = body.at(i);
        body[i] = char(scrambled ^ m_keyBytes.at(i % 8) ^ previous);
        previous = scrambled;
    }
    body.remove(0, 1); // filler byte

    if (flags & Checksummed) {
        if (body.size() < ChecksumSize)
            return QByteArray();
        const quint16 stored16 = quint16((quint8(body.at(0)) << 8) | quint8(body.at(1)));
        body.remove(0, ChecksumSize);
        if (qChecksum(body.constData(), uint(body.size())) != stored16)
            return QByteArray();
    } else if (flags & Digested) {
        if (body.size() < DigestSize)
            return QByteArray();
        const QByteArray digest = body.left(DigestSize);
        body.remove(0, DigestSize);
        if (QCryptographicHash::hash(body, QCryptographicHash::Sha1) != digest)
            return QByteArray();
    }

    if (flags & Compressed) {
        // qUncompress allocates whatever the first four bytes claim before it looks at the rest.
        if (body.size() >= 4) {
            const quint32 claimed = (quint32(quint8(body.at(0))) << 24) |
                                    (quint32(quint8(body.at(1))) << 16) |
                                    (quint32(quint8(body.at(2))) << 8) | quint8(body.at(3));
            if (claimed > quint32(MaxPlainBytes)) {
                qWarning() << "Claimed payload length out of range.";
                return QByteArray();
            }
        }
        body = qUncompress(body);
    }
    return body;
}

QString storedLiteral(const char *enciphered)
{
    const LiteralCipher cipher(ProgramKey::Low, ProgramKey::High);
    return cipher.decodeText(QString::fromLatin1(enciphered));
}
