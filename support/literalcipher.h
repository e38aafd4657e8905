#pragma once

#include <QByteArray>
#include <QString>

// Turns a stored, enciphered literal (base64 text) back into its plain value.
//
// Stored layout after base64: version byte (3), flags byte (1 compressed, 2 CRC-16,
// 4 SHA-1), then a body scrambled with the key in a chain over the scrambled bytes.
// The unscrambled body is a filler byte, the protection field and the payload.
// Every failure yields an empty result; callers use the result as it comes.
class LiteralCipher
{
public:
    LiteralCipher(quint32 keyLow, quint32 keyHigh);

    // A compressed payload starts with the length it unpacks to. Literals are paths and SQL, so a
    // claim beyond this is refused before anything is allocated for it.
    static constexpr int MaxPlainBytes = 4096;

    QString decodeText(const QString &stored) const;
    QByteArray decodeBytes(QByteArray stored) const;

private:
    quint64 m_key;
    QByteArray m_keyBytes;
};

// Decodes one of the program's stored literals with the program's own key.
QString storedLiteral(const char *enciphered);
