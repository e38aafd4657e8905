// The verbs of the command-line tool: /install, /remove and /list all.

#include "extensiondatabase.h"
#include "layout.h"
#include "package.h"
#include "standin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace StandIn {

namespace {

// Column layout of the listing: 12 characters of status, 56 of name, then the
// version. The main program cuts the lines at exactly these positions.
const char *const listingHeader =
    " Status                        Extension Name                         Version\n"
    "=========  =======================================================  ==========\n";
const char *const statusColumn = " Enabled    ";
const int nameColumnWidth = 56;

class Printer
{
public:
    void out(const QString &line) { m_result.out += line.toUtf8() + '\n'; }
    void err(const QString &line) { m_result.err += line.toUtf8() + '\n'; }
    CommandResult finish(int exitCode)
    {
        m_result.exitCode = exitCode;
        return m_result;
    }

private:
    CommandResult m_result;
};

QList<HostEntry> hostsOf(const QString &root, Generation generation)
{
    QList<HostEntry> result;
    const QList<HostEntry> all = readHosts(root);
    for (const HostEntry &host : all) {
        if (dataGeneration(host.generation) == dataGeneration(generation))
            result << host;
    }
    return result;
}

bool hostRunning(const QString &root)
{
    return isFaultOn(root, Fault::HostRunning);
}

bool isInside(const QString &path, const QString &folder)
{
    if (path.isEmpty())
        return false;
    const QString cleanPath = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return cleanPath.startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

// Deletes a file or folder, but only when it lies in a folder of ours: the
// database may hold any paths if someone edited it.
void removeOwnedPath(const QString &path, const QString &ownerFolder)
{
    if (!isInside(path, ownerFolder))
        return;
    const QFileInfo info(path);
    if (info.isDir())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

bool extractTo(const QList<PackageEntry> &entries, const QString &folder)
{
    for (const PackageEntry &entry : entries) {
        const QString relative = safeEntryPath(entry.name);
        if (relative.isEmpty())
            return false;
        if (relative == QLatin1String("."))
            continue;
        const QString target = folder + QLatin1Char('/') + relative;
        if (!isInside(target, folder))
            return false;
        if (entry.isDirectory) {
            if (!QDir().mkpath(target))
                return false;
            continue;
        }
        if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            return false;
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly) || file.write(entry.data) != entry.data.size())
            return false;
    }
    return true;
}

bool hasEntry(const QList<PackageEntry> &entries, const QString &name)
{
    for (const PackageEntry &entry : entries) {
        QString entryName = entry.name;
        entryName.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (entryName.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

CommandResult install(const QString &root, Generation generation, const QString &packagePath)
{
    Printer print;
    print.out(QStringLiteral("Installing extension with file path = ") + packagePath);
    auto fail = [&print](int status) {
        print.out(QStringLiteral("Failed to install, status = %1!").arg(status));
        return print.finish(1);
    };

    if (hostRunning(root))
        return fail(-456);
    ExtensionDatabase database(databasePath(root, generation), generation);
    if (!database.open() || database.isDamaged())
        return fail(-501);

    // Adobe's tool cannot open a path with letters beyond ASCII, and says so only with a code.
    for (const QChar c : packagePath) {
        if (c.unicode() > 0x7e)
            return fail(-160);
    }

    const QFileInfo packageInfo(packagePath);
    QFile packageFile(packageInfo.absoluteFilePath());
    QList<PackageEntry> entries;
    if (packagePath.isEmpty() || !packageFile.open(QIODevice::ReadOnly) ||
        !readPackageEntries(packageInfo.absoluteFilePath(), &entries))
        return fail(-201);
    const QByteArray packageBytes = packageFile.readAll();

    // Only the plugin installer agent knows UXP plugins; the others find no manifest in them.
    const bool plugin = generation == Generation::External && isUxpPackage(packagePath);
    PackageManifest manifest;
    if ((plugin ? readUxpManifest(entries, &manifest) : readManifest(entries, &manifest)) !=
            ManifestStatus::Found ||
        !isUsableExtensionName(manifest.name) || manifest.version.isEmpty())
        return fail(-160);
    for (const PackageEntry &entry : entries) {
        if (entry.withoutPermissions)
            return fail(-160);
    }
    const QString suffix = packageInfo.suffix().toLower();
    if (suffix == QLatin1String("zxp") &&
        !hasEntry(entries, QStringLiteral("META-INF/signatures.xml")))
        return fail(-402);
    // A package naming files outside its own folder is refused as a whole:
    // skipping such entries would install something other than what was asked.
    for (const PackageEntry &entry : entries) {
        if (safeEntryPath(entry.name).isEmpty())
            return fail(-202);
    }

    QStringList hostLines;
    const QList<HostEntry> hosts = hostsOf(root, generation);
    for (const HostEntry &host : hosts) {
        for (const HostRequirement &requirement : qAsConst(manifest.hosts)) {
            if (hostMatches(host, requirement) && !hostLines.contains(host.hostLine))
                hostLines << host.hostLine;
        }
    }
    if (hostLines.isEmpty())
        return fail(-403);

    InstalledExtension previous;
    const bool upgrading = database.find(manifest.name, &previous);
    if (upgrading) {
        const int order = compareVersions(previous.version, manifest.version);
        if (order == 0)
            return fail(-412);
        if (order > 0)
            return fail(-418);
    }

    // Unpack beside the real folders first so a broken package leaves the
    // installed version alone.
    const QString extensionsRoot = extensionsFolder(root, generation);
    const QString packagesRoot = packagesFolder(root, generation);
    const QString stagingRoot = standinFolder(root) + QStringLiteral("/staging/") +
                                generationName(dataGeneration(generation));
    // Windows allows none of <>"|?* in a file name; the name stays whole in the database.
    QString folderName = manifest.name;
    for (QChar &c : folderName) {
        if (QStringLiteral("<>\"|?*").contains(c))
            c = QLatin1Char('_');
    }
    const QString staging = stagingRoot + QLatin1Char('/') + folderName;
    QDir(staging).removeRecursively();
    if (!QDir().mkpath(staging) || !extractTo(entries, staging)) {
        QDir(staging).removeRecursively();
        return fail(-201);
    }
    const QString packageCopy = packagesRoot + QLatin1Char('/') + folderName +
                                (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    QFile stagedPackage(stagingRoot + QLatin1Char('/') + folderName + QStringLiteral(".package"));
    if (!QDir().mkpath(packagesRoot) || !stagedPackage.open(QIODevice::WriteOnly) ||
        stagedPackage.write(packageBytes) != packageBytes.size()) {
        QDir(staging).removeRecursively();
        stagedPackage.remove();
        return fail(-201);
    }
    stagedPackage.close();

    const QString installPath = extensionsRoot + QLatin1Char('/') + folderName;
    if (upgrading) {
        removeOwnedPath(previous.installPath, extensionsRoot);
        removeOwnedPath(previous.packagePath, packagesRoot);
    }
    removeOwnedPath(installPath, extensionsRoot); // leftovers without a row
    removeOwnedPath(packageCopy, packagesRoot);
    QDir().mkpath(extensionsRoot);
    if (!QDir().rename(staging, installPath) || !stagedPackage.rename(packageCopy)) {
        QDir(staging).removeRecursively();
        removeOwnedPath(installPath, extensionsRoot);
        stagedPackage.remove();
        return fail(-201);
    }

    InstalledExtension installed;
    installed.name = manifest.name;
    installed.version = manifest.version;
    installed.packagePath = packageCopy;
    installed.installPath = installPath;
    installed.visible = true;
    installed.hostLines = hostLines;
    const QString icon = safeEntryPath(manifest.iconEntry);
    if (!manifest.iconEntry.isEmpty() && !icon.isEmpty() &&
        QFileInfo(installPath + QLatin1Char('/') + icon).isFile())
        installed.iconPath = installPath + QLatin1Char('/') + icon;

    if (!database.store(installed)) {
        removeOwnedPath(installPath, extensionsRoot);
        removeOwnedPath(packageCopy, packagesRoot);
        return fail(-513);
    }
    print.out(QStringLiteral("Installation successful"));
    return print.finish(0);
}

CommandResult remove(const QString &root, Generation generation, const QString &name)
{
    Printer print;
    if (hostRunning(root)) {
        print.out(QStringLiteral("Failed to remove, status = -456!"));
        return print.finish(1);
    }
    ExtensionDatabase database(databasePath(root, generation), generation);
    if (!database.open() || database.isDamaged()) {
        print.out(QStringLiteral("Failed to remove, status = -501!"));
        return print.finish(1);
    }
    InstalledExtension extension;
    if (!database.find(name, &extension) ||
        (generation != Generation::External && isUxpPackage(extension.packagePath))) {
        print.out(QStringLiteral("Failed to remove extension ") + name);
        return print.finish(1);
    }
    if (!database.remove(name)) {
        print.out(QStringLiteral("Failed to remove, status = -513!"));
        return print.finish(1);
    }
    removeOwnedPath(extension.installPath, extensionsFolder(root, generation));
    removeOwnedPath(extension.packagePath, packagesFolder(root, generation));
    print.out(QStringLiteral("Removal successful"));
    return print.finish(0);
}

QString countLine(int count, const QString &hostLine)
{
    return QStringLiteral("%1 %2 installed for %3\n")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("extension") : QStringLiteral("extensions"), hostLine);
}

QString extensionLines(QList<InstalledExtension> extensions)
{
    std::sort(extensions.begin(), extensions.end(),
              [](const InstalledExtension &a, const InstalledExtension &b) {
                  const int order = a.name.compare(b.name, Qt::CaseInsensitive);
                  return order != 0 ? order < 0 : a.name < b.name;
              });
    QString text = QLatin1String(listingHeader);
    for (const InstalledExtension &extension : qAsConst(extensions)) {
        // A name longer than its column pushes the version to the right.
        QString name = extension.name.leftJustified(nameColumnWidth);
        if (extension.name.size() >= nameColumnWidth)
            name += QLatin1Char(' ');
        text += QLatin1String(statusColumn) + name + extension.version + QLatin1Char('\n');
    }
    return text + QLatin1Char('\n');
}

QString formatListing(const QList<HostEntry> &hosts, const QList<InstalledExtension> &extensions)
{
    QString text;
    QSet<QString> listedHosts;
    for (const HostEntry &host : hosts) {
        listedHosts.insert(host.hostLine);
        QList<InstalledExtension> forHost;
        for (const InstalledExtension &extension : extensions) {
            if (extension.hostLines.contains(host.hostLine))
                forHost << extension;
        }
        text += countLine(forHost.size(), host.hostLine) + extensionLines(forHost);
    }
    // Extensions whose hosts are gone (or never were) end up under Others.
    QList<InstalledExtension> others;
    for (const InstalledExtension &extension : extensions) {
        bool listed = false;
        for (const QString &hostLine : extension.hostLines)
            listed = listed || listedHosts.contains(hostLine);
        if (!listed)
            others << extension;
    }
    text += countLine(others.size(), QStringLiteral("Others"));
    if (!others.isEmpty())
        text += extensionLines(others);
    return text;
}

CommandResult list(const QString &root, Generation generation)
{
    Printer print;
    if (generation == Generation::Newer) {
        if (isFaultOn(root, Fault::NewerRetired)) {
            print.out(QStringLiteral("Error: status = -192!"));
            return print.finish(1);
        }
        if (isFaultOn(root, Fault::NewerRetiredNotice)) {
            print.out(QStringLiteral("This version of the extension manager no longer supports "
                                     "this command."));
            return print.finish(1);
        }
    }
    ExtensionDatabase database(databasePath(root, generation), generation);
    if (!database.open()) {
        print.err(QStringLiteral("Extraction error: cannot open the extension database"));
        return print.finish(1);
    }
    if (database.isDamaged()) {
        print.err(QStringLiteral("Extraction error"));
        return print.finish(1);
    }
    CommandResult result = print.finish(0);
    // UXP plugins share the newer generation's data, but only the agent knows them.
    QList<InstalledExtension> extensions = database.extensions();
    if (generation != Generation::External)
        extensions.erase(std::remove_if(extensions.begin(), extensions.end(),
                                        [](const InstalledExtension &extension) {
                                            return isUxpPackage(extension.packagePath);
                                        }),
                         extensions.end());
    result.out = formatListing(hostsOf(root, generation), extensions).toUtf8();
    return result;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Prints a scripted answer if there is one for this generation and verb.
bool runScript(const QString &root, Generation generation, Verb verb, CommandResult *result)
{
    const QString out = scriptPath(root, generation, verb, QStringLiteral(".stdout"));
    const QString err = scriptPath(root, generation, verb, QStringLiteral(".stderr"));
    if (!QFile::exists(out) && !QFile::exists(err))
        return false;
    result->out = readAll(out);
    result->err = readAll(err);
    result->exitCode = 0;
    if (QFile::exists(scriptPath(root, generation, verb, QStringLiteral(".once"))))
        clearScript(root, generation, verb);
    return true;
}

} // namespace

CommandResult runCommand(const QString &root, Generation generation, const QStringList &arguments)
{
    const QString option = arguments.value(0);
    Verb verb;
    if (arguments.size() == 2 && option == QLatin1String("/install"))
        verb = Verb::Install;
    else if (arguments.size() == 2 && option == QLatin1String("/remove"))
        verb = Verb::Remove;
    else if (arguments.size() == 2 && option == QLatin1String("/list") &&
             arguments.at(1) == QLatin1String("all"))
        verb = Verb::List;
    else
        return CommandResult{QByteArray(), QByteArrayLiteral("Unknown option specified\n"), 2};

    CommandResult result;
    if (runScript(root, generation, verb, &result))
        return result;

    ensureBaseFolders(root);
    applyFaultSwitches(root);
    switch (verb) {
    case Verb::Install:
        return install(root, generation, arguments.at(1));
    case Verb::Remove:
        return remove(root, generation, arguments.at(1));
    case Verb::List:
        break;
    }
    return list(root, generation);
}

QString installPackage(const QString &root, Generation generation, const QString &packagePath)
{
    return QString::fromUtf8(
        runCommand(root, generation, {QStringLiteral("/install"), packagePath}).out);
}

QString removeExtension(const QString &root, Generation generation, const QString &name)
{
    return QString::fromUtf8(runCommand(root, generation, {QStringLiteral("/remove"), name}).out);
}

QString listAll(const QString &root, Generation generation)
{
    return QString::fromUtf8(
        runCommand(root, generation, {QStringLiteral("/list"), QStringLiteral("all")}).out);
}

QList<InstalledExtension> installedExtensions(const QString &root, Generation generation, bool *ok)
{
    ExtensionDatabase database(databasePath(root, generation), generation);
    const bool opened = database.open();
    if (ok)
        *ok = opened;
    return opened ? database.extensions() : QList<InstalledExtension>();
}

bool setExtensionVisible(const QString &root, Generation generation, const QString &name,
                         bool visible)
{
    ExtensionDatabase database(databasePath(root, generation), generation);
    return database.open() && database.setVisible(name, visible);
}

namespace {
QString processFaultPath(const QString &root, Verb verb, ProcessFault fault)
{
    const char *suffix = fault == ProcessFault::Hang    ? "-hang"
                         : fault == ProcessFault::Crash ? "-crash"
                                                        : "-chatter";
    return faultSwitchPath(root, verbName(verb) + QLatin1String(suffix));
}

QString runDelayPath(const QString &root)
{
    return faultSwitchPath(root, QStringLiteral("run-delay"));
}

QString runLogPath(const QString &root)
{
    return standinFolder(root) + QStringLiteral("/runs.log");
}

QString overlapLogPath(const QString &root)
{
    return standinFolder(root) + QStringLiteral("/overlapping-runs.log");
}

bool verbOf(const QStringList &arguments, Verb *verb)
{
    const QString option = arguments.value(0);
    if (option == QLatin1String("/install"))
        *verb = Verb::Install;
    else if (option == QLatin1String("/remove"))
        *verb = Verb::Remove;
    else if (option == QLatin1String("/list"))
        *verb = Verb::List;
    else
        return false;
    return true;
}

// The misbehaviours of a process: a delay, a hang or a crash, before any work.
void misbehave(const QString &root, const QStringList &arguments)
{
    bool delayOk = false;
    const int delay = readAll(runDelayPath(root)).trimmed().toInt(&delayOk);
    if (delayOk && delay > 0)
        QThread::msleep(static_cast<unsigned long>(delay));
    Verb verb;
    if (!verbOf(arguments, &verb))
        return;
    if (QFile::exists(processFaultPath(root, verb, ProcessFault::Crash))) {
#ifdef Q_OS_WIN
        // abort() is an ordinary exit (code 3) on Windows; a crash ends with an error status.
        TerminateProcess(GetCurrentProcess(), 0xC0000005); // access violation
#endif
        std::abort();
    }
    if (QFile::exists(processFaultPath(root, verb, ProcessFault::Hang)))
        QThread::sleep(600);
    if (QFile::exists(processFaultPath(root, verb, ProcessFault::Chatter))) {
        for (int dot = 0; dot < 6000; ++dot) {
            std::fputc('.', stdout);
            std::fflush(stdout);
            QThread::msleep(100);
        }
    }
}
} // namespace

bool setProcessFault(const QString &root, Verb verb, ProcessFault fault, bool on)
{
    const QString path = processFaultPath(root, verb, fault);
    if (!on)
        return !QFile::exists(path) || QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

bool setRunDelay(const QString &root, int milliseconds)
{
    const QString path = runDelayPath(root);
    if (milliseconds <= 0)
        return !QFile::exists(path) || QFile::remove(path);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(milliseconds)) > 0;
}

bool startCountingRuns(const QString &root)
{
    QDir().mkpath(standinFolder(root));
    QFile file(runLogPath(root));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

QStringList countedRuns(const QString &root)
{
    const QString log = QString::fromUtf8(readAll(runLogPath(root)));
    return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList overlappingRuns(const QString &root)
{
    const QString log = QString::fromUtf8(readAll(overlapLogPath(root)));
    return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int runMain(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    // The folder the copy was started from decides which generation it is.
    const Generation generation =
        generationForFolder(QFileInfo(QCoreApplication::applicationDirPath()).fileName());
    const QString root = environmentRoot();
    const QStringList arguments = QCoreApplication::arguments().mid(1);

    // A lock held for the whole run tells whether another run was still going.
    QDir().mkpath(standinFolder(root));
    QLockFile lock(standinFolder(root) + QStringLiteral("/tool.lock"));
    lock.setStaleLockTime(0); // only a dead holder makes it stale, never its age
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        QFile log(overlapLogPath(root));
        if (log.open(QIODevice::Append))
            log.write((generationName(generation) + QLatin1Char(' ') +
                       arguments.join(QLatin1Char(' ')) + QLatin1Char('\n'))
                          .toUtf8());
    }
    // Counted only once a test asked for it, so a demo root's log does not grow for ever.
    QFile runs(runLogPath(root));
    if (runs.exists() && runs.open(QIODevice::Append))
        runs.write((generationName(generation) + QLatin1Char(' ') +
                    arguments.join(QLatin1Char(' ')) + QLatin1Char('\n'))
                       .toUtf8());
    runs.close();
    misbehave(root, arguments);

    const CommandResult result = runCommand(root, generation, arguments);
#ifdef Q_OS_WIN
    // The answers go out byte for byte: text mode would turn a scripted "\r\n" into "\r\r\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    std::fwrite(result.out.constData(), 1, static_cast<size_t>(result.out.size()), stdout);
    std::fflush(stdout);
    std::fwrite(result.err.constData(), 1, static_cast<size_t>(result.err.size()), stderr);
    std::fflush(stderr);
    return result.exitCode;
}

} // namespace StandIn
