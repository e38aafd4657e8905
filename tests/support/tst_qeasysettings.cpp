#include "platform/platform.h"
#include "support/qeasysettings.h"
#include "testenvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStyle>
#include <QtTest>

// The follower is one per process, so the cases build on each other in declaration order:
// the first reading ever taken is compared with a dark "previous" state.
class TestQEasySettings : public QObject
{
    Q_OBJECT

private:
    bool systemIsLight = false;

    static QString styleName() { return QApplication::style()->objectName().toLower(); }
    static bool paletteIsDark()
    {
        const QPalette p = QApplication::palette();
        return p.color(QPalette::Window) == QColor(53, 53, 53) &&
               p.color(QPalette::Base) == QColor(25, 25, 25) &&
               p.color(QPalette::Disabled, QPalette::Highlight) == QColor(68, 68, 68) &&
               p.color(QPalette::Disabled, QPalette::Text) == QColor(164, 166, 168) &&
               p.color(QPalette::HighlightedText) == QColor(Qt::black) &&
               p.color(QPalette::BrightText) == QColor(Qt::red) &&
               p.color(QPalette::Link) == QColor(42, 130, 218);
    }

private slots:
    void initTestCase()
    {
        QEasySettings::setLightThemeReader([this] { return systemIsLight; });
        QEasySettings::initialise(0, QStringLiteral("VelmoraPanelholdTest"));
        QVERIFY(QEasySettings::instance());
        QVERIFY(!QEasySettings::isPolling()); // initialise does not start the timer
    }

    void secondInitialiseCreatesNothing()
    {
        QEasySettings *first = QEasySettings::instance();
        QEasySettings::initialise(0, QStringLiteral("Other"));
        QCOMPARE(QEasySettings::instance(), first);
        QCOMPARE(qApp->findChildren<QEasySettings *>().size(), 1);
    }

    void darkSystemGivesFusionAndDarkPaletteAtOnce()
    {
        systemIsLight = false;
        QEasySettings::applyStyle(QEasySettings::FollowSystem);
        QCOMPARE(styleName(), QStringLiteral("fusion"));
        // The palette arrives through a queued signal, never inside the reading itself.
        QVERIFY(!paletteIsDark());
        QCoreApplication::processEvents();
        QVERIFY(paletteIsDark());
        QCOMPARE(styleName(), QStringLiteral("fusion"));
        QVERIFY(!QEasySettings::isPolling());
    }

    void lightSystemGivesNativeStyleAfterOnePoll()
    {
        systemIsLight = true;
        QElapsedTimer clock;
        clock.start();
        QEasySettings::applyStyle(QEasySettings::FollowSystem);
        QCoreApplication::processEvents();
        // The first light reading disagrees with the previous dark one: nothing yet.
        QVERIFY(paletteIsDark());
        QVERIFY(QEasySettings::isPolling());
        QTRY_VERIFY_WITH_TIMEOUT(!QEasySettings::isPolling(), 2000);
        QVERIFY(clock.elapsed() >= 90);
        QCoreApplication::processEvents();
        QVERIFY(!paletteIsDark());
        QCOMPARE(styleName(), Platform::nativeStyleName().toLower());
        QCOMPARE(QApplication::palette().color(QPalette::Window),
                 QApplication::style()->standardPalette().color(QPalette::Window));
    }

    void laterChangesAreNotFollowed()
    {
        systemIsLight = false;
        QTest::qWait(350);
        QVERIFY(!paletteIsDark());
        QVERIFY(!QEasySettings::isPolling());
    }

    void unknownModeChangesNothing()
    {
        const QString before = styleName();
        const QColor window = QApplication::palette().color(QPalette::Window);
        QEasySettings::applyStyle(static_cast<QEasySettings::StyleMode>(5));
        QCOMPARE(styleName(), before);
        QCOMPARE(QApplication::palette().color(QPalette::Window), window);
        QVERIFY(!QEasySettings::isPolling());
    }

    void darkModeAppliesTheWholeTable()
    {
        QEasySettings::applyStyle(QEasySettings::Dark);
        QCOMPARE(styleName(), QStringLiteral("fusion"));
        QVERIFY(paletteIsDark());
        QEasySettings::applyStyle(QEasySettings::Native);
        QVERIFY(!paletteIsDark());
    }
};

PANELHOLD_TEST_MAIN(TestQEasySettings)
#include "tst_qeasysettings.moc"
