#include "updates/versioncompare.h"

#include <QtTest>

// Version comparison decides whether an installed extension gets an "Update" button.
class TestVersionCompare : public QObject
{
    Q_OBJECT

private slots:
    void compare_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("expected");

        QTest::newRow("1.9 < 1.10") << QByteArray("1.9") << QByteArray("1.10") << -1;
        QTest::newRow("2.0 = 2") << QByteArray("2.0") << QByteArray("2") << 0;
        QTest::newRow("1.2 = 1.2.0.0") << QByteArray("1.2") << QByteArray("1.2.0.0") << 0;
        QTest::newRow("1.0.1 > 1.0") << QByteArray("1.0.1") << QByteArray("1.0") << 1;
        QTest::newRow("1.01 = 1.1") << QByteArray("1.01") << QByteArray("1.1") << 0;
        QTest::newRow("0b folds to 50") << QByteArray("1.0") << QByteArray("1.0b") << -1;
        QTest::newRow("empty component is 0") << QByteArray("1..2") << QByteArray("1.0.2") << 0;
        QTest::newRow("trailing dot") << QByteArray("3.") << QByteArray("3") << 0;

        QTest::newRow("both empty") << QByteArray() << QByteArray() << 0;
        QTest::newRow("empty vs 0") << QByteArray() << QByteArray("0") << 0;
        QTest::newRow("empty vs 1") << QByteArray() << QByteArray("1") << -1;
        QTest::newRow("1 vs empty") << QByteArray("1") << QByteArray() << 1;
        QTest::newRow("only dots") << QByteArray("...") << QByteArray("0.0") << 0;
        QTest::newRow("longer b greater") << QByteArray("1.2") << QByteArray("1.2.1") << -1;
        QTest::newRow("major decides first") << QByteArray("2.0") << QByteArray("1.99.99") << 1;
        QTest::newRow("leading zeros") << QByteArray("007") << QByteArray("7") << 0;

        // Every byte counts as a digit: 'a' (97) is 49, '-' (45) is -3.
        QTest::newRow("letter as digit") << QByteArray("a") << QByteArray("49") << 0;
        QTest::newRow("dash is negative") << QByteArray("-") << QByteArray("0") << -1;
        QTest::newRow("1-beta folds to 126029") << QByteArray("1") << QByteArray("1-beta") << -1;
        // A byte above 127 is a negative signed char: 0xC3 is -61, minus 48 is -109.
        QTest::newRow("high byte negative") << QByteArray("\xc3") << QByteArray("0") << -1;

        // 32-bit signed arithmetic wraps: 2147483647 + 1 is negative.
        QTest::newRow("max int") << QByteArray("2147483647") << QByteArray("2147483646") << 1;
        QTest::newRow("wraps to negative") << QByteArray("2147483648") << QByteArray("0") << -1;
        QTest::newRow("wraps 4294967296 to 0") << QByteArray("4294967296") << QByteArray("0") << 0;
        QTest::newRow("wraps 4294967297 to 1")
            << QByteArray("1.4294967297") << QByteArray("1.1") << 0;
    }

    void compare()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, expected);
        QCOMPARE(compareVersions(a, b), expected);
        // Swapping the arguments turns the answer round.
        QCOMPARE(compareVersions(b, a), -expected);
    }
};

QTEST_APPLESS_MAIN(TestVersionCompare)
#include "tst_versioncompare.moc"
