#include "support/literalcipher.h"
#include "support/literals.h"
#include "support/programkey.h"
#include "testenvironment.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtTest>

namespace {

// The tests' own encoder, the inverse of decodeBytes, to make vectors of every shape.
// `protection` overrides the computed protection field when given.
QByteArray encode(const QByteArray &plain, int flags, quint64 key, char filler = 'F')
{
    const QByteArray payload = (flags & 1) ? qCompress(plain) : plain;
    QByteArray protection;
    if (flags & 2) {
        const quint16 sum = qChecksum(payload.constData(), uint(payload.size()));
        protection = QByteArray() + char(sum >> 8) + char(sum & 0xff);
    } else if (flags & 4) {
        protection = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
    }
    QByteArray body = filler + protection + payload;
    char previous = 0;
    for (int i = 0; i < body.size(); ++i) {
        body[i] = char(body[i] ^ char((key >> (8 * (i % 8))) & 0xff) ^ previous);
        previous = body[i];
    }
    return QByteArray(1, char(3)) + char(flags) + body;
}

constexpr quint64 ProgramKey64 = (quint64(ProgramKey::High) << 32) | ProgramKey::Low;

int warningCount = 0;
QtMessageHandler previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        ++warningCount;
    previousHandler(type, context, message);
}

} // namespace

class TestLiteralCipher : public QObject
{
    Q_OBJECT

private:
    LiteralCipher cipher{ProgramKey::Low, ProgramKey::High};

private slots:
    void init()
    {
        warningCount = 0;
        previousHandler = qInstallMessageHandler(countWarnings);
    }
    void cleanup() { qInstallMessageHandler(previousHandler); }

    void keyBytesRunFromLeastSignificant()
    {
        // A one-byte payload with flags 0 lands on key byte 1 (byte 0 scrambles the filler):
        // decoding with a key that differs only in its second-lowest byte must change it.
        const QByteArray stored = encode("A", 0, 0x0000000000000200ull);
        QCOMPARE(LiteralCipher(0x200, 0).decodeBytes(stored), QByteArray("A"));
        QVERIFY(LiteralCipher(0x300, 0).decodeBytes(stored) != QByteArray("A"));
        QCOMPARE(LiteralCipher(0x200, 0x77000000).decodeBytes(stored), QByteArray("A"));
    }

    void roundTripsEveryProtection_data()
    {
        QTest::addColumn<int>("flags");
        QTest::newRow("plain") << 0;
        QTest::newRow("compressed only") << 1;
        QTest::newRow("checksum") << 2;
        QTest::newRow("compressed and checksum") << 3;
        QTest::newRow("digest") << 4;
        QTest::newRow("compressed and digest") << 5;
    }
    void roundTripsEveryProtection()
    {
        QFETCH(int, flags);
        const QByteArray plain = "C:\\Program Files\\Common Files\\ünïcode path\\tool.exe";
        const QByteArray stored = encode(plain, flags, ProgramKey64);
        QCOMPARE(cipher.decodeBytes(stored), plain);
        QCOMPARE(cipher.decodeText(QString::fromLatin1(stored.toBase64())), QString::fromUtf8(plain));
        QCOMPARE(warningCount, 0);
    }

    void rejectsWrongVersionWithWarning()
    {
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QCOMPARE(cipher.decodeText(QStringLiteral("AAAA")), QString());
        QByteArray stored = encode("x", 2, ProgramKey64);
        stored[0] = 2;
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QCOMPARE(cipher.decodeBytes(stored), QByteArray());
    }

    void shortInputIsEmptyWithoutWarning()
    {
        QCOMPARE(cipher.decodeBytes(QByteArray("\x03\x02", 2)), QByteArray());
        QCOMPARE(cipher.decodeText(QString::fromLatin1(QByteArray("\x03\x02").toBase64())), QString());
        QCOMPARE(warningCount, 0);
    }

    void protectionFieldTooShortFails()
    {
        // Filler plus one byte: the checksum needs two.
        QCOMPARE(cipher.decodeBytes(encode("", 0, ProgramKey64).append(char(0x11)).replace(1, 1, "\x02")),
                 QByteArray());
        QCOMPARE(cipher.decodeBytes(encode("short", 0, ProgramKey64).replace(1, 1, "\x04")), QByteArray());
        QCOMPARE(warningCount, 0);
    }

    void everyFlippedChecksumBitFails()
    {
        const QByteArray stored = encode("QSQLITE", 2, ProgramKey64);
        // Bytes 3 and 4 hold the scrambled checksum (after version, flags and filler).
        for (int byte = 3; byte <= 4; ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray damaged = stored;
                damaged[byte] = char(damaged[byte] ^ (1 << bit));
                QCOMPARE(cipher.decodeBytes(damaged), QByteArray());
            }
        }
        QCOMPARE(warningCount, 0);
    }

    void digestCatchesDamage()
    {
        QByteArray stored = encode("SELECT * FROM extensions", 4, ProgramKey64);
        stored[stored.size() - 1] = char(stored[stored.size() - 1] ^ 0x40);
        QCOMPARE(cipher.decodeBytes(stored), QByteArray());
    }

    void checksumTakesPrecedenceOverDigest()
    {
        // With both flags the field is a checksum: a correct checksum decodes...
        QCOMPARE(cipher.decodeBytes(encode("both", 6, ProgramKey64)), QByteArray("both"));
        // ...and a 20-byte digest in its place is read as checksum plus payload, and fails.
        QByteArray withDigest = encode("both", 4, ProgramKey64);
        withDigest[1] = 6;
        QCOMPARE(cipher.decodeBytes(withDigest), QByteArray());
    }

    void chainSpoilsTwoBytesWithoutProtection()
    {
        const QByteArray plain = "abcdefghij";
        QByteArray stored = encode(plain, 0, ProgramKey64);
        const int position = 2 + 1 + 4; // version, flags, filler, then payload byte 4
        stored[position] = char(stored[position] ^ 0x01);
        const QByteArray decoded = cipher.decodeBytes(stored);
        QCOMPARE(decoded.size(), plain.size());
        for (int i = 0; i < plain.size(); ++i) {
            if (i == 4 || i == 5)
                QVERIFY2(decoded[i] != plain[i], qPrintable(QString("byte %1 unchanged").arg(i)));
            else
                QCOMPARE(decoded[i], plain[i]);
        }
        // The same damage under a checksum makes the decode fail.
        QByteArray protectedStored = encode(plain, 2, ProgramKey64);
        protectedStored[position + 2] = char(protectedStored[position + 2] ^ 0x01);
        QCOMPARE(cipher.decodeBytes(protectedStored), QByteArray());
    }

    void compressedPayloadIsNotTestedWithoutChecksum()
    {
        // Flag 1 alone: a damaged stream is caught only by the uncompressing itself.
        QByteArray stored = encode(QByteArray(200, 'z'), 1, ProgramKey64);
        QCOMPARE(cipher.decodeBytes(stored), QByteArray(200, 'z'));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("qUncompress"));
        stored[stored.size() - 3] = char(stored[stored.size() - 3] ^ 0x5a);
        QCOMPARE(cipher.decodeBytes(stored), QByteArray());
    }

    void lengthClaimsAreBounded_data()
    {
        QTest::addColumn<QByteArray>("payload"); // stored as is, flagged compressed
        QTest::addColumn<QByteArray>("plain");   // empty: refused with a warning
        const QByteArray atLimit(LiteralCipher::MaxPlainBytes, 'q');
        QTest::newRow("at the limit") << qCompress(atLimit) << atLimit;
        QTest::newRow("one byte past it")
            << qCompress(QByteArray(LiteralCipher::MaxPlainBytes + 1, 'q')) << QByteArray();
        // Eight bytes that ask for 1.9 GB.
        QTest::newRow("huge claim")
            << QByteArray("\x71\x00\x00\x00\x78\x9c\x03\x00", 8) << QByteArray();
    }
    void lengthClaimsAreBounded()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, plain);
        QByteArray stored = encode(payload, 0, ProgramKey64);
        stored[1] = 1; // the flags byte is not scrambled
        if (plain.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, "Claimed payload length out of range.");
        QCOMPARE(cipher.decodeBytes(stored), plain);
        QCOMPARE(warningCount, plain.isEmpty() ? 1 : 0);
    }

    void storedLiteralsMatchTheirSource()
    {
        // Every literal the build enciphered decodes back to the value written in the source.
        QFile source(QStringLiteral(PANELHOLD_SOURCE_DIR "/tools/encipher/literals.txt"));
        QVERIFY(source.open(QIODevice::ReadOnly | QIODevice::Text));
#ifdef Q_OS_WIN
        const QString platform = QStringLiteral("windows");
#else
        const QString platform = QStringLiteral("other");
#endif
        QMap<QString, QString> expected;
        const QStringList lines = QString::fromUtf8(source.readAll()).split('\n');
        for (const QString &line : lines) {
            const QStringList f = line.split('|');
            if (line.trimmed().startsWith('#') || f.size() < 4)
                continue;
            if (f[2].trimmed() == platform || f[2].trimmed() == QLatin1String("all"))
                expected.insert(f[0].trimmed(), f.mid(3).join('|').trimmed());
        }
        const QMap<QString, const char *> stored = {
            {"ExternalToolPath", StoredLiterals::ExternalToolPath},
            {"SqlDriver", StoredLiterals::SqlDriver},
            {"OlderDatabaseCandidate1", StoredLiterals::OlderDatabaseCandidate1},
            {"OlderDatabaseCandidate2", StoredLiterals::OlderDatabaseCandidate2},
            {"OlderDatabaseCandidate3", StoredLiterals::OlderDatabaseCandidate3},
            {"OlderDatabaseCandidate4", StoredLiterals::OlderDatabaseCandidate4},
            {"OlderDatabaseDefault", StoredLiterals::OlderDatabaseDefault},
            {"NewerDatabaseRelative", StoredLiterals::NewerDatabaseRelative},
            {"FixupStatement1", StoredLiterals::FixupStatement1},
            {"FixupStatement2", StoredLiterals::FixupStatement2},
            {"FixupStatement3", StoredLiterals::FixupStatement3},
            {"SelectExtensions", StoredLiterals::SelectExtensions},
            {"NameColumn", StoredLiterals::NameColumn},
            {"PackageColumn", StoredLiterals::PackageColumn},
            {"IconColumn", StoredLiterals::IconColumn},
            {"InstallColumn", StoredLiterals::InstallColumn},
            {"ShownColumn", StoredLiterals::ShownColumn},
            {"AlternativeShownColumn", StoredLiterals::AlternativeShownColumn},
        };
        QCOMPARE(stored.keys(), expected.keys());
        for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
            QCOMPARE(storedLiteral(it.value()), expected.value(it.key()));
            const QByteArray raw = QByteArray::fromBase64(it.value());
            QCOMPARE(int(raw.at(1)), it.key() == QLatin1String("ExternalToolPath") ? 3 : 2);
        }
    }
};

PANELHOLD_TEST_MAIN(TestLiteralCipher)
#include "tst_literalcipher.moc"
