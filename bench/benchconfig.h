#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What one bench invocation measures, from its command line.
struct BenchParameters
{
    int hosts = 6;              // a third of them (at least one) older generation, the rest newer
    int extensions = 200;       // per generation: every extension is installed in both
    int feedHosts = 1;          // feeds spread round-robin over this many servers (ports)
    int latencyMs = 50;         // each feed answers after this long
    double silentShare = 0.1;   // share of feeds that never answer, in the second scenario
    double announceShare = 0.5; // share of feeds that announce a newer version
    int runs = 5;               // the table shows medians over this many runs
    int stallTimeoutMs = 3000;  // the scan's no-progress timeout, shortened for the bench
    QList<int> fillRows{1000, 5000};
    QString workDir; // empty: a temporary folder, removed at the end
};

// Reads the options after the program name. On a mistake returns false with the reason.
bool parseParameters(const QStringList &arguments, BenchParameters *parameters, QString *error);
QString usageText();

// Everything a window run (a child process of the driver) needs to know; passed as a JSON file.
struct WindowRunConfig
{
    enum class Mode { Full, StartUpOnly };
    Mode mode = Mode::Full;
    QString root;    // the stand-in environment
    QString scratch; // where the run may write
    int stallTimeoutMs = 3000;
    qint64 spawnedAtMs = 0; // monotonic clock, just before the driver started the process
    QString hostName;       // the host the start-up selects, for the checks and the fills
    int expectedRows = 0;   // rows that host's table must show
    QString probeFeedUrl;   // an answering feed, for the floor's single round trip
    QString installPackage;
    QString installName;
    QString floorInstallPackage;
    QString removeName;
    QString floorRemoveName;
    QList<int> fillRows;
    double announceShare = 0.5;

    QJsonObject toJson() const;
    static WindowRunConfig fromJson(const QJsonObject &object);
};

// The figures of one window run by name (milliseconds unless the name says otherwise), and a
// failure text when a step did not work.
struct WindowRunResult
{
    QJsonObject figures;
    QString failure;
    QString platform;
};
