#pragma once

// Stand-in for Adobe's extension command-line tool and its two extension
// databases. Everything the ExManCmd executable does lives here, so that tests
// and the demo seeder can prepare and drive an environment without starting a
// process. See README.md next to this file for the on-disk layout.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace StandIn {

// Which copy of the tool is running. The older and the newer generation each
// have their own database, hosts, extension and package folders. The external
// tool shares the newer generation's data but has scripts of its own.
enum class Generation { Older, Newer, External };

// "Support002", "Support003" or "external": the folder names that select a
// generation, also used in file names under the root.
QString generationName(Generation generation);
// Older for "Support002", Newer for "Support003", External for anything else.
Generation generationForFolder(const QString &folderName);
// The generation whose data a generation uses (External -> Newer).
Generation dataGeneration(Generation generation);

// PANELHOLD_COMMON_APPDATA if set and non-empty, else
// <GenericDataLocation>/panelhold-adobe.
QString environmentRoot();

// Fixed locations under a root.
QString databasePath(const QString &root, Generation generation);
QString hostsFilePath(const QString &root);
QString extensionsFolder(const QString &root, Generation generation);
QString packagesFolder(const QString &root, Generation generation);

// One host application the stand-in pretends is installed.
struct HostEntry
{
    Generation generation = Generation::Newer;
    QString hostLine;  // printed by the listing, e.g. "Photoshop CC 2019 (ver 20.0)"
    QStringList codes; // matched against manifests, e.g. {"PHXS", "PHSP"}
    QString version;   // checked against version ranges; empty matches any range
};

// A small default set: older "Photoshop CS6", "Illustrator CS6"; newer
// "Photoshop CC 2019 (ver 20.0)", "Illustrator 2023 (ver 27.0)",
// "InDesign 2023 (ver 18.0)".
QList<HostEntry> defaultHosts();
// Reads <root>/standin/hosts.txt; a missing file gives no hosts.
QList<HostEntry> readHosts(const QString &root);
bool writeHosts(const QString &root, const QList<HostEntry> &hosts);

// Creates the folders (including <root>/Panelhold, which the main program's
// database search goes through), writes the hosts file and creates both
// databases empty if they do not exist. Existing data is kept.
bool prepareEnvironment(const QString &root, const QList<HostEntry> &hosts = defaultHosts());

// Output of one tool run, exactly as the executable prints it.
struct CommandResult
{
    QByteArray out;
    QByteArray err;
    int exitCode = 0;
};

// Runs one command line (the arguments after the program name) against a root,
// honouring faults and scripts just like the executable does.
CommandResult runCommand(const QString &root, Generation generation, const QStringList &arguments);
// Conveniences around runCommand; they return standard output.
QString installPackage(const QString &root, Generation generation, const QString &packagePath);
QString removeExtension(const QString &root, Generation generation, const QString &name);
QString listAll(const QString &root, Generation generation);

// The executable's main: picks generation and root and runs runCommand.
int runMain(int argc, char *argv[]);

// One row of an extension database, with its host rows.
struct InstalledExtension
{
    QString name;
    QString version;
    QString packagePath;
    QString iconPath;
    QString installPath;
    bool visible = true;
    QStringList hostLines;
};

// Reads a generation's database directly. *ok is false when it cannot be opened.
QList<InstalledExtension> installedExtensions(const QString &root, Generation generation,
                                              bool *ok = nullptr);
// Sets the shown/visible column of one row; false when there is no such row.
bool setExtensionVisible(const QString &root, Generation generation, const QString &name,
                         bool visible);

// Dotted numeric comparison ("1.10" > "1.9", "2" == "2.0"): -1, 0 or 1.
int compareVersions(const QString &a, const QString &b);

// ---- Sample packages ------------------------------------------------------

enum class ManifestKind {
    Mxi,  // top-level <name>.mxi, root element macromedia-extension
    Csxs, // CSXS/manifest.xml, root element ExtensionManifest
    Uxp,  // manifest.json of a UXP plugin (".ccx"), installed by the external tool only
    None  // no manifest at all (use extraEntries for hand-made ones)
};

// A host a sample package asks for. For Mxi packages the name is a product
// name ("Photoshop") and the version its minimum; for Csxs packages the name
// is a host code ("PHXS") and the version a range such as "[20.0,99.9]"; for
// Uxp packages the name is an app ("PS", "ID", "AI") and the version its
// minVersion.
struct SampleHost
{
    QString name;
    QString version;
};

struct SamplePackage
{
    ManifestKind manifest = ManifestKind::Mxi;
    QString name;
    QString version = QStringLiteral("1.0");
    QString bundleId; // Csxs only; made from the name when empty
    QList<SampleHost> hosts;
    bool signature = false; // adds META-INF/signatures.xml
    QByteArray iconPng;     // stored as icons/icon.png and named in the manifest
    QString updateUrl;      // Mxi only: <update url="..." method="directlink"/>
    QString mxiFileName;    // entry name of the .mxi; "<name>.mxi" when empty
    QString description;
    // Entries carry Unix permission bits (rw-r--r--) unless this is set, which
    // writes them with none, as some zip tools do.
    bool withoutPermissionBits = false;
    // Written after everything else with their names exactly as given, so a
    // test can add odd entries ("../evil", absolute paths, broken manifests).
    QList<QPair<QString, QByteArray>> extraEntries;
};

// Writes the package as a zip archive (replacing zipPath). The sample always
// carries one small content file (index.html) so it is never empty.
bool buildSamplePackage(const QString &zipPath, const SamplePackage &package);

// The XML of an update feed as the main program reads it.
QByteArray updateFeedXml(const QString &version, const QString &downloadUrl,
                         const QString &description = QString());

// ---- Faults ---------------------------------------------------------------

enum class Fault {
    HostRunning,             // install and remove fail with -456!
    NewerRetired,            // newer /list all prints a "-192!" line, lists nothing
    NewerRetiredNotice,      // same, but a "no longer supports this" line instead
    OlderDatabaseDamaged,    // a row in pending_operations of the older database
    NewerDatabaseDamaged,    // the same for the newer database
    OlderDatabaseUnopenable, // the database file is replaced by a directory
    NewerDatabaseUnopenable
};

// Switches a fault on or off at once. Switching a damaged database off empties
// pending_operations; switching an unopenable database off puts the file back.
bool setFault(const QString &root, Fault fault, bool on);
bool isFaultOn(const QString &root, Fault fault);

// ---- Scripted mode ----------------------------------------------------------

enum class Verb { Install, Remove, List };

// Makes the given generation's tool print exactly these bytes for a verb
// instead of running it. A script stays until cleared unless once is true, in
// which case the first run that prints it also deletes it.
bool writeScript(const QString &root, Generation generation, Verb verb, const QByteArray &out,
                 const QByteArray &err = QByteArray(), bool once = false);
bool clearScript(const QString &root, Generation generation, Verb verb);

// ---- How the executable behaves as a process ---------------------------------
// Only the executable honours these (runCommand cannot hang or crash its caller).

enum class ProcessFault {
    Hang,   // prints nothing and does not end (for ten minutes)
    Crash,  // prints nothing and dies of a signal
    Chatter // prints a dot every 100 ms and does not end (for ten minutes)
};

// Every run of the verb, by any copy of the tool, misbehaves while switched on.
bool setProcessFault(const QString &root, Verb verb, ProcessFault fault, bool on);
// Every run waits this long before it works, so that runs are easy to overlap.
bool setRunDelay(const QString &root, int milliseconds);
// One line per run that started while another run of the tool was still going; Adobe's tool
// can fail then, so the program must never do it.
QStringList overlappingRuns(const QString &root);
// From now on every run of any copy adds a line "<generation> <arguments>"; starting again
// forgets the lines so far.
bool startCountingRuns(const QString &root);
QStringList countedRuns(const QString &root);

} // namespace StandIn
