#pragma once

#include "benchconfig.h"
#include "localhttpserver.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class FeedServer;

using Routes = QList<QPair<QString, LocalHttpServer::Route>>;

// A stand-in environment with hosts of both generations and the same extensions installed in
// both, each package naming a feed of its own on one of the feed server's hosts.
struct Scenario
{
    QString root;
    QString packages;       // the packages it was built from, and those the runs install
    QStringList names;      // installed extensions, in the order their feeds are named
    QList<bool> announcing; // the feed announces a newer version
    QList<bool> silent;     // the feed never answers (in the scenario with silent feeds)
    QString hostName;       // the host the window selects at start-up
    int latencyMs = 0;
    int runs = 0;

    QString feedPath(int index) const;
    QString packagePath(int index) const;
    int announcingCount(bool withSilentFeeds) const;

    // The feeds; with silentFeeds the silent share never answers, otherwise every feed does.
    Routes routes(bool silentFeeds) const;
    // An answering feed that announces nothing, for the floor's single round trip.
    static QString probePath();

    // The packages a run installs and the extensions it removes, by the window and by the bare
    // tool; building them is part of the scenario so runs start alike.
    QString runPackage(int run, bool throughWindow) const;
    QString runPackageName(int run, bool throughWindow) const;
    QString runRemovalName(int run, bool throughWindow) const;
    // Undoes what a run changed: the removed extensions are back in both generations, the
    // installed ones gone. False with a reason when the environment could not be restored.
    bool restoreAfterRun(int run, QString *error) const;
};

// A small PNG of its own colour for each seed: the scenario's icons and the first fills'.
QByteArray benchIconPng(uint seed);

bool buildScenario(const BenchParameters &parameters, const FeedServer &server,
                   const QString &folder, Scenario *scenario, QString *error);
