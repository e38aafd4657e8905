#include "cli/companion.h"

#include "app/version.h"
#include "operations/installer.h"
#include "operations/packagecheck.h"
#include "operations/remover.h"
#include "operations/resetter.h"
#include "support/nameorder.h"
#include "tool/toolcommand.h"
#include "tool/toollock.h"
#include "updates/manifest.h"
#include "updates/packagedownload.h"
#include "updates/updatefeed.h"
#include "updates/updatelookup.h"
#include "updates/updatescanner.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("Companion", text);
}

// A result box's text on one line.
QString oneLine(const QString &text)
{
    return text.simplified();
}

// An installation's failure in words, with the tool's own code where it printed one.
QString failureWords(const InstallOutcome &outcome)
{
    // The window's text names the code in its own way; here it goes in brackets, as always.
    QString words = oneLine(outcome.likelyCause.isEmpty() ? outcome.text : outcome.likelyCause);
    if (!outcome.code.isEmpty())
        words += QLatin1Char(' ') + tr("[Adobe's code %1]").arg(outcome.code);
    return terminalText(words);
}

// A removal's failure in words, with the tool's own code as installation failures carry it.
QString removalFailureWords(const RemovalOutcome &outcome)
{
    QString words = oneLine(outcome.text);
    if (!outcome.code.isEmpty())
        words += QLatin1Char(' ') + tr("[Adobe's code %1]").arg(outcome.code);
    return terminalText(words);
}

// What the package says it holds ("Type Specimen 1.2"); empty when it cannot be read.
QString packageIdentityWords(const QString &path)
{
    QFile package(path);
    if (!package.open(QIODevice::ReadOnly))
        return QString();
    const PackageIdentity identity = packageIdentity(&package);
    if (identity.name.isEmpty())
        return QString();
    return identity.version.isEmpty() ? identity.name
                                      : identity.name + QLatin1Char(' ') + identity.version;
}

// Why the file cannot be handed to the tool as a package; empty when it can.
QString packageProblem(const QString &path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return tr("no such file.");
    if (!file.isFile())
        return tr("not a file.");
    const QString suffix = file.suffix().toLower();
    if (suffix != QLatin1String("zxp") && suffix != QLatin1String("mxp") &&
        suffix != QLatin1String("zip") && suffix != QLatin1String("ccx"))
        return tr("not an extension package (.zxp, .mxp, .zip or .ccx).");
    QFile package(path);
    if (!package.open(QIODevice::ReadOnly))
        return tr("cannot be read: %1.").arg(package.errorString());
    // Every package is a zip archive, and every zip archive starts with "PK".
    if (!package.read(2).startsWith("PK"))
        return tr("not an extension package: it is not a zip archive.");
    return QString();
}

bool isBidiOrSeparator(ushort u)
{
    return u == 0x200e || u == 0x200f || u == 0x2028 || u == 0x2029 ||
           (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
}

// Runs of the tool take turns through a lock shared with the window and other companions;
// when none can be had here, every command would fail, so it says why at once instead of after
// a wait. A lock that another process holds is no failure: the runs wait their turn.
bool lockUsable(QTextStream &err)
{
    ToolLock probe;
    if (probe.attempt() != ToolLock::Attempt::Failed)
        return true;
    err << probe.failure() << '\n';
    return false;
}
} // namespace

QString terminalText(const QString &text)
{
    static const char named[] = "abtnvfr"; // for 0x07 .. 0x0d
    QString safe;
    safe.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (u >= 0x07 && u <= 0x0d) {
            safe += QLatin1Char('\\');
            safe += QLatin1Char(named[u - 0x07]);
        } else if (u < 0x20 || u == 0x7f) {
            safe += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        } else if ((u >= 0x80 && u <= 0x9f) || isBidiOrSeparator(u)) {
            safe += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        } else {
            safe += c;
        }
    }
    return safe;
}

Companion::Companion(QTextStream &out, QTextStream &err, bool progressLines)
    : m_out(out), m_err(err), m_progressLines(progressLines)
{
}

int Companion::run(const CliRequest &request)
{
    if (!request.error.isEmpty()) {
        m_err << "panelhold-cli: " << terminalText(request.error) << '\n'
              << tr("Try \"panelhold-cli --help\".") << '\n';
        return ExitStatus::BadUsage;
    }
    switch (request.command) {
    case CliCommand::Help:
        m_out << usageText();
        return ExitStatus::Success;
    case CliCommand::Version:
        m_out << "panelhold-cli " << Program::Version << '\n';
        return ExitStatus::Success;
    case CliCommand::None:
        break;
    case CliCommand::Inspect:
        // Reads packages only; the tool, where there is one, tells what is installed.
        return inspect(request.operands, request.json);
    default:
        if (!toolFound())
            return ExitStatus::ToolNotFound;
        if (!lockUsable(m_err))
            return ExitStatus::Failure;
        break;
    }
    switch (request.command) {
    case CliCommand::List:
        return list(request.json, request.csv, request.updates);
    case CliCommand::Install:
        return install(request.operands);
    case CliCommand::Remove:
        return remove(request.operands);
    case CliCommand::Update:
        return update(request.operands, request.all);
    case CliCommand::Reset:
        return reset(request.yes);
    default:
        return ExitStatus::BadUsage;
    }
}

bool Companion::toolFound()
{
    const QString missing = missingToolText(m_inventory.toolFolders);
    if (missing.isEmpty())
        return true;
    m_err << missing << '\n';
    return false;
}

bool Companion::readInventory()
{
    const ListingSummary listing = m_inventory.list();
    m_inventory.readAdobeDatabases();
    if (listing.allOutputsEmpty) {
        m_err << tr("Cannot read installed extensions information. Please try to Restart or run "
                    "as Administrator.")
              << '\n';
        return false;
    }
    if (listing.noSections)
        m_err << tr("No Adobe products found. Please reinstall Adobe's software or try "
                    "\"panelhold-cli reset --yes\".")
              << '\n';
    return true;
}

bool Companion::allListed(const QStringList &names)
{
    bool listed = true;
    for (const QString &name : names) {
        const bool found = std::any_of(
            m_inventory.hostExtensions.cbegin(), m_inventory.hostExtensions.cend(),
            [&](const QMap<QString, QStringList> &host) { return host.contains(name); });
        if (!found)
            m_err << terminalText(name) << ": " << tr("no Adobe application lists this extension.")
                  << '\n';
        listed = listed && found;
    }
    return listed;
}

UpdateCheck Companion::checkForUpdates()
{
    UpdateCheck check;
    UpdateScanner scanner;
    QEventLoop loop;
    QObject::connect(&scanner, &UpdateScanner::updateFound,
                     [&](const QString &name, const QString &version) {
                         check.announced.insert(name, version);
                     });
    QObject::connect(
        &scanner, &UpdateScanner::feedFailed,
        [&](const QString &name, const QString &reason) { check.failed.insert(name, reason); });
    QObject::connect(&scanner, &UpdateScanner::finished, &loop, &QEventLoop::quit);
    scanner.start(scanTargets(m_inventory));
    if (scanner.isRunning())
        loop.exec();
    return check;
}

namespace {
// The listing itself is whole, but an extension whose feed could not be read was not checked.
int listStatus(const UpdateCheck &check)
{
    return check.failed.isEmpty() ? ExitStatus::Success : ExitStatus::PartialFailure;
}
} // namespace

int Companion::list(bool json, bool csv, bool withUpdates)
{
    if (!readInventory())
        return ExitStatus::Failure;
    UpdateCheck check;
    if (withUpdates)
        check = checkForUpdates();

    if (json) {
        // JSON is UTF-8 whatever the console's code page.
        m_out.setCodec("UTF-8");
        m_out << listingJsonText(m_inventory, withUpdates ? &check : nullptr);
        return listStatus(check);
    }
    if (csv) {
        m_out.setCodec("UTF-8");
        // Lines end as the companion's other lines do: the console makes them CRLF on Windows.
        m_out << listingCsv(m_inventory, withUpdates ? &check : nullptr);
        return listStatus(check);
    }
    const QStringList hostNames = inReadingOrder(m_inventory.hostExtensions.keys());
    for (const QString &hostName : hostNames) {
        m_out << terminalText(hostName) << '\n';
        const QList<QStringList> rows =
            rowsInReadingOrder(m_inventory.hostExtensions.value(hostName));
        int nameWidth = 0;
        int versionWidth = 0;
        for (const QStringList &row : rows) {
            nameWidth = qMax(nameWidth, terminalText(row.value(0)).size());
            versionWidth = qMax(versionWidth, terminalText(row.value(1)).size());
        }
        for (const QStringList &row : rows) {
            const QString name = row.value(0);
            const QString version = row.value(1);
            const ExtensionInfo info = m_inventory.extensionInfo.value(name);
            m_out << "  " << terminalText(name).leftJustified(nameWidth) << "  "
                  << terminalText(version).leftJustified(versionWidth) << "  "
                  << (info.shown != 0 ? tr("shown ") : tr("hidden")) << "  "
                  << (info.iconPath.isEmpty()
                          ? QStringLiteral("-")
                          : terminalText(QDir::toNativeSeparators(info.iconPath)));
            const QString newer = check.announced.value(name);
            if (isNewer(newer, version))
                m_out << "  " << tr("(update %1 available)").arg(terminalText(newer));
            else if (check.failed.contains(name))
                m_out << "  "
                      << tr("(no update check: %1)").arg(terminalText(check.failed.value(name)));
            m_out << '\n';
        }
    }
    return listStatus(check);
}

QString Companion::listedVersionNow(const QString &name)
{
    m_inventory.list();
    m_inventory.readAdobeDatabases();
    QString newest;
    for (const QMap<QString, QStringList> &host : qAsConst(m_inventory.hostExtensions)) {
        const QString version = host.value(name).value(1);
        if (!version.isEmpty() &&
            (newest.isEmpty() || compareVersions(version.toUtf8(), newest.toUtf8()) > 0))
            newest = version;
    }
    return newest;
}

InstallReport Companion::installAndWait(const InstallRequest &request)
{
    Installer installer(m_inventory, m_gate);
    InstallReport report;
    QEventLoop loop;
    QObject::connect(&installer, &Installer::finished, [&](const InstallReport &finished) {
        report = finished;
        loop.quit();
    });
    installer.install(request, QString());
    if (installer.isBusy())
        loop.exec();
    return report;
}

int Companion::install(const QStringList &packages)
{
    // Every package is checked before the first is installed: a script with a typo in one path
    // must not leave the machine half done.
    bool usable = true;
    for (const QString &package : packages) {
        const QString problem = packageProblem(package);
        if (!problem.isEmpty()) {
            m_err << terminalText(QDir::toNativeSeparators(package)) << ": "
                  << terminalText(problem) << '\n';
            usable = false;
        }
    }
    if (!usable)
        return ExitStatus::BadUsage;

    // The listing settles which generation installs, as it does for the window.
    m_inventory.list();

    int succeeded = 0;
    int failed = 0;
    bool resetHint = false;
    for (const QString &package : packages) {
        InstallRequest request;
        request.package = QFileInfo(package).absoluteFilePath();
        // Read before the tool runs: it may move or delete the package.
        const QString identity = packageIdentityWords(request.package);
        const InstallReport report = installAndWait(request);
        const QString shown = terminalText(QDir::toNativeSeparators(package));
        if (report.outcome.succeeded) {
            ++succeeded;
            m_out << shown << ": "
                  << (identity.isEmpty() ? tr("installed.")
                                         : tr("installed %1.").arg(terminalText(identity)))
                  << '\n';
        } else {
            ++failed;
            m_err << shown << ": " << tr("not installed: ") << failureWords(report.outcome) << '\n';
            resetHint = resetHint || !report.outcome.resetQuestion.isEmpty();
        }
        m_out.flush();
        m_err.flush();
    }
    if (succeeded > 0)
        m_out << tr("Restart the Adobe applications that are open before you use what was "
                    "installed.")
              << '\n';
    if (resetHint)
        m_err << tr("Adobe's extension list may be damaged: \"panelhold-cli reset --yes\" resets "
                    "it.")
              << '\n';
    return exitStatusFor(succeeded, failed);
}

namespace {
QString installedWords(const PackageCheck &check)
{
    switch (check.installed) {
    case InstalledState::Unknown:
        break;
    case InstalledState::NotInstalled:
        return tr("not installed");
    case InstalledState::Older:
        return tr("an older version is installed (%1)").arg(check.installedVersion);
    case InstalledState::Same:
        return tr("this version is installed");
    case InstalledState::Newer:
        return tr("a newer version is installed (%1)").arg(check.installedVersion);
    }
    return tr("unknown");
}

QString installedKey(InstalledState state)
{
    switch (state) {
    case InstalledState::Unknown:
        break;
    case InstalledState::NotInstalled:
        return QStringLiteral("no");
    case InstalledState::Older:
        return QStringLiteral("older");
    case InstalledState::Same:
        return QStringLiteral("same");
    case InstalledState::Newer:
        return QStringLiteral("newer");
    }
    return QStringLiteral("unknown");
}

QJsonObject checkJson(const QString &shownPath, const PackageCheck &check)
{
    QJsonArray hosts;
    for (const PackageHost &host : check.hosts)
        hosts.append(QJsonObject{{QStringLiteral("host"), host.host},
                                 {QStringLiteral("minVersion"), host.minimum},
                                 {QStringLiteral("maxVersion"), host.maximum}});
    QJsonArray layout;
    if (check.manifestNotAtRoot)
        layout.append(QStringLiteral("manifestNotAtRoot"));
    if (check.filesOutsideBundle)
        layout.append(QStringLiteral("filesOutsideBundle"));
    if (check.entriesWithoutPermissions)
        layout.append(QStringLiteral("entriesWithoutPermissions"));
    QJsonObject object{{QStringLiteral("path"), shownPath},
                       {QStringLiteral("readable"), check.readable}};
    if (!check.readable) {
        object.insert(QStringLiteral("problem"), check.problem);
        return object;
    }
    object.insert(QStringLiteral("kind"), packageKindKey(check.kind));
    object.insert(QStringLiteral("name"), check.name);
    object.insert(QStringLiteral("id"), check.id);
    object.insert(QStringLiteral("version"), check.version);
    object.insert(QStringLiteral("hosts"), hosts);
    object.insert(QStringLiteral("signed"), check.isSigned);
    object.insert(QStringLiteral("layoutFaults"), layout);
    object.insert(QStringLiteral("noInstalledHost"),
                  check.hostsKnown ? QJsonValue(check.noInstalledHost) : QJsonValue());
    object.insert(QStringLiteral("installed"), installedKey(check.installed));
    object.insert(QStringLiteral("installedVersion"), check.installedVersion);
    object.insert(QStringLiteral("faults"), QJsonArray::fromStringList(packageFaultWords(check)));
    return object;
}
} // namespace

int Companion::inspect(const QStringList &packages, bool json)
{
    for (const QString &package : packages) {
        if (!QFileInfo::exists(package)) {
            m_err << terminalText(QDir::toNativeSeparators(package)) << ": " << tr("no such file.")
                  << '\n';
            return ExitStatus::BadUsage;
        }
    }
    // What is installed, when Adobe's tool can say; without it the packages are still read.
    if (missingToolText(m_inventory.toolFolders).isEmpty() && lockUsable(m_err))
        m_inventory.list();

    int readable = 0;
    int unreadable = 0;
    QJsonArray objects;
    for (const QString &package : packages) {
        PackageCheck check = checkPackage(QFileInfo(package).absoluteFilePath());
        compareWithInstalled(check, m_inventory.hostLines, m_inventory.extensionVersions);
        (check.readable ? readable : unreadable)++;
        const QString shown = QDir::toNativeSeparators(package);
        if (json) {
            objects.append(checkJson(shown, check));
            continue;
        }
        m_out << terminalText(shown) << ":\n";
        if (!check.readable) {
            m_out << "  " << tr("cannot be read: ") << terminalText(check.problem) << '\n';
            continue;
        }
        QStringList hosts;
        for (const PackageHost &host : qAsConst(check.hosts))
            hosts << host.host + QLatin1Char(' ') + host.range;
        const auto line = [this](const QString &label, const QString &value) {
            m_out << "  " << label.leftJustified(10) << ' ' << terminalText(value) << '\n';
        };
        line(tr("kind"), packageKindWords(check.kind));
        line(tr("name"), check.name);
        line(tr("id"), check.id);
        line(tr("version"), check.version);
        line(tr("hosts"), hosts.join(QStringLiteral(", ")));
        line(tr("signed"), check.isSigned ? tr("yes") : tr("no"));
        line(tr("installed"), installedWords(check));
        for (const QString &fault : packageFaultWords(check))
            line(tr("fault"), fault);
    }
    if (json) {
        m_out.setCodec("UTF-8");
        m_out << QJsonDocument(QJsonObject{{QStringLiteral("format"), 1},
                                           {QStringLiteral("packages"), objects}})
                     .toJson(QJsonDocument::Indented);
    }
    return exitStatusFor(readable, unreadable);
}

int Companion::remove(const QStringList &names)
{
    if (!readInventory())
        return ExitStatus::Failure;
    if (!allListed(names))
        return ExitStatus::BadUsage;

    int succeeded = 0;
    int failed = 0;
    for (const QString &name : names) {
        Remover remover(m_inventory, m_gate);
        RemovalReport report;
        bool done = false;
        QEventLoop loop;
        QObject::connect(&remover, &Remover::finished, [&](const RemovalReport &finished) {
            report = finished;
            done = true;
            loop.quit();
        });
        remover.remove(name, QString());
        if (!done)
            loop.exec();
        if (report.succeeded) {
            ++succeeded;
            m_out << terminalText(name) << ": " << tr("removed.") << '\n';
        } else {
            ++failed;
            m_err << terminalText(name) << ": " << tr("not removed: ")
                  << (report.stepsRun == 0 && report.failure.text.isEmpty()
                          ? tr("no Adobe release keeps a record of it.")
                          : removalFailureWords(report.failure))
                  << '\n';
        }
        m_out.flush();
        m_err.flush();
    }
    return exitStatusFor(succeeded, failed);
}

int Companion::update(const QStringList &names, bool all)
{
    if (!readInventory())
        return ExitStatus::Failure;
    if (!allListed(names))
        return ExitStatus::BadUsage;
    const UpdateCheck check = checkForUpdates();
    QStringList wanted = names;
    if (all)
        wanted = QStringList(check.announced.keys()) + QStringList(check.failed.keys());
    wanted.removeDuplicates();

    int succeeded = 0;
    int failed = 0;
    for (const QString &name : qAsConst(wanted)) {
        const QString version = check.announced.value(name);
        if (version.isEmpty() && check.failed.contains(name)) {
            ++failed;
            m_err << terminalText(name) << ": "
                  << tr("not updated: %1.").arg(terminalText(check.failed.value(name))) << '\n';
            continue;
        }
        if (version.isEmpty()) {
            ++succeeded;
            m_out << terminalText(name) << ": " << tr("no newer version is announced.") << '\n';
            continue;
        }
        const QString address = updateAddressOf(m_inventory, name);
        QString failure = lookupFailureReason(address);
        PackageDownload download;
        if (failure.isEmpty()) {
            download =
                downloadUpdatePackage(address, {name, version}, [&](qint64 received, qint64 total) {
                    showProgress(name, received, total);
                });
            endProgress();
            failure = download.failure;
        }
        if (!failure.isEmpty()) {
            ++failed;
            m_err << terminalText(name) << ": "
                  << tr("not updated: the update could not be downloaded: %1.")
                         .arg(terminalText(failure))
                  << '\n';
            continue;
        }
        InstallRequest request;
        request.package = download.file;
        request.isUpdate = true;
        request.updatedExtension = name;
        const InstallReport report = installAndWait(request);
        discardDownloadedPackage(download.file);
        // The window, or another script, may have installed this very version meanwhile: then
        // the tool refuses to install it again, and the extension is where it was asked to be.
        const QString listed = report.outcome.succeeded ? QString() : listedVersionNow(name);
        if (report.outcome.succeeded) {
            ++succeeded;
            m_out << terminalText(name) << ": " << tr("updated to %1.").arg(terminalText(version))
                  << '\n';
            // A copy an older Adobe release keeps at the old version: only partly updated.
            for (const QString &copy : report.leftBehind)
                m_err << terminalText(name) << ": " << terminalText(oneLine(copy)) << '\n';
            if (!report.leftBehind.isEmpty())
                ++failed;
        } else if (!listed.isEmpty() && compareVersions(listed.toUtf8(), version.toUtf8()) >= 0) {
            ++succeeded;
            m_out << terminalText(name) << ": " << tr("already at %1.").arg(terminalText(listed))
                  << '\n';
        } else {
            ++failed;
            m_err << terminalText(name) << ": " << tr("not updated: ")
                  << failureWords(report.outcome) << '\n';
        }
        m_out.flush();
        m_err.flush();
    }
    if (wanted.isEmpty())
        m_out << tr("Every extension is up to date.") << '\n';
    return exitStatusFor(succeeded, failed);
}

int Companion::reset(bool yes)
{
    if (!yes) {
        m_err << tr("reset moves Adobe's extension databases aside and lets Adobe's tool start a "
                    "new list. Add --yes to do it.")
              << '\n';
        return ExitStatus::BadUsage;
    }
    const QList<MoveAsideFailure> failures = resetExtensionDatabases(m_inventory);
    for (const MoveAsideFailure &failure : failures)
        m_err << tr("%1 could not be moved aside: %2")
                     .arg(terminalText(QDir::toNativeSeparators(failure.path)),
                          terminalText(failure.reason))
              << '\n';
    if (!failures.isEmpty()) {
        m_err << tr("Please try again as Administrator.") << '\n';
        return ExitStatus::Failure;
    }
    m_out << tr("The extension list was reset; the old databases are kept beside the new ones.")
          << '\n';
    return ExitStatus::Success;
}

void Companion::showProgress(const QString &name, qint64 received, qint64 total)
{
    if (!m_progressLines)
        return;
    m_out << '\r' << tr("Downloading %1: ").arg(terminalText(name));
    if (total > 0)
        m_out << (received * 100 / total) << "% ";
    m_out << tr("(%1 KiB)").arg(received / 1024) << "   ";
    m_out.flush();
    m_progressShown = true;
}

void Companion::endProgress()
{
    if (!m_progressShown)
        return;
    // The progress line gives way to the result line.
    m_out << '\r' << QString(79, QLatin1Char(' ')) << '\r';
    m_out.flush();
    m_progressShown = false;
}
