#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QtTest>

// A temporary home, settings store, documents folder and stand-in root for one test, so no test
// touches the real home folder. The process-wide part (HOME, XDG folders) is set up once by
// PANELHOLD_TEST_MAIN before the application object exists; each TestEnvironment then gives a
// fresh stand-in root and clears the settings.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    bool isValid() const { return m_root.isValid(); }
    // The stand-in's environment root (what commonAppDataFolder() returns while this lives).
    QString root() const { return m_root.path(); }
    // A scratch folder for packages and other files a test makes.
    QString scratch() const;

    // Called by PANELHOLD_TEST_MAIN before the application object is created.
    static void setUpProcess();

private:
    QTemporaryDir m_root;
    QTemporaryDir m_scratch;
};

// True when this Windows program runs under Wine, which lacks a few things Windows has; the
// tests that need them skip there and say why.
bool runsUnderWine();

#define PANELHOLD_TEST_MAIN(TestObject)                                                            \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestEnvironment::setUpProcess();                                                           \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
