#pragma once

#include "cli/commandline.h"
#include "inventory/inventory.h"
#include "operations/listingexport.h"
#include "tool/toolgate.h"

#include <QMap>
#include <QString>
#include <QTextStream>

struct InstallReport;
struct InstallRequest;

// Outside text made safe to print on a terminal: control characters (C0, DEL, C1), line
// separators and bidirectional overrides are written as C-style escapes ("\n", "\x1b",
// "\u202e"). Backslashes stay as they are, so Windows paths read as themselves. Text without
// such characters comes back unchanged.
QString terminalText(const QString &text);

// The console front: runs one command line against the same inventory, gate, installer, remover,
// reset and update code as the window, and turns what they report into lines and an exit status.
// Results go to `out`, errors and hints to `err`.
class Companion
{
public:
    Companion(QTextStream &out, QTextStream &err, bool progressLines);

    int run(const CliRequest &request);

private:
    int list(bool json, bool csv, bool withUpdates);
    int install(const QStringList &packages);
    int inspect(const QStringList &packages, bool json);
    int remove(const QStringList &names);
    int update(const QStringList &names, bool all);
    int reset(bool yes);

    // Says so and returns false when no generation's tool is where it belongs.
    bool toolFound();
    // Lists and reads the databases; false (and said so) when no tool printed anything.
    bool readInventory();
    // Says which names no host lists; true when every one is listed.
    bool allListed(const QStringList &names);
    // Asks every extension's feed.
    UpdateCheck checkForUpdates();
    InstallReport installAndWait(const InstallRequest &request);
    // The newest version any host lists the extension at, listed afresh; empty when none does.
    QString listedVersionNow(const QString &name);
    void showProgress(const QString &name, qint64 received, qint64 total);
    void endProgress();

    QTextStream &m_out;
    QTextStream &m_err;
    bool m_progressLines;
    bool m_progressShown = false;
    Inventory m_inventory;
    ToolGate m_gate;
};
