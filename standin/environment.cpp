// Where things live under the environment root, the hosts file, the fault
// switches and the scripts.

#include "extensiondatabase.h"
#include "layout.h"
#include "standin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace StandIn {

const char *const hostRunningSwitch = "host-running";
const char *const newerRetiredSwitch = "newer-retired";

namespace {

const char *const olderDatabaseRelative = "/Adobe/Extension Manager CC/Configuration/DB/ExMan.db";
const char *const newerDatabaseRelative =
    "/Adobe/Extension Manager CC/Configuration/DB/ExMan711.db";

QString damageSwitch(Generation generation)
{
    return dataGeneration(generation) == Generation::Older
               ? QStringLiteral("damage-older-database")
               : QStringLiteral("damage-newer-database");
}

QString unopenableSwitch(Generation generation)
{
    return dataGeneration(generation) == Generation::Older
               ? QStringLiteral("unopenable-older-database")
               : QStringLiteral("unopenable-newer-database");
}

// Where the database file waits while its path is blocked by a directory.
QString asidePath(const QString &root, Generation generation)
{
    return databasePath(root, generation) + QStringLiteral(".standin-aside");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(data);
    return file.commit();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes the database path a directory (switch on) or a file again (off).
bool syncUnopenable(const QString &root, Generation generation)
{
    const QString path = databasePath(root, generation);
    const QString aside = asidePath(root, generation);
    const bool wanted = QFile::exists(faultSwitchPath(root, unopenableSwitch(generation)));
    if (wanted) {
        if (QFileInfo(path).isDir())
            return true;
        if (QFileInfo::exists(path)) {
            if (QFileInfo::exists(aside))
                return false; // never overwrite the file put aside earlier
            if (!QFile::rename(path, aside))
                return false;
        }
        return QDir().mkpath(path);
    }
    // Only undo what we did: an empty directory with the file put aside.
    if (QFileInfo(path).isDir() && QFileInfo::exists(aside)) {
        if (!QDir().rmdir(path))
            return false;
        return QFile::rename(aside, path);
    }
    return !QFileInfo(path).isDir();
}

bool setDamaged(const QString &root, Generation generation, bool damaged)
{
    ExtensionDatabase database(databasePath(root, generation), generation);
    if (!database.open())
        return false;
    return damaged ? database.markDamaged() : database.clearDamage();
}

Generation faultGeneration(Fault fault)
{
    switch (fault) {
    case Fault::OlderDatabaseDamaged:
    case Fault::OlderDatabaseUnopenable:
        return Generation::Older;
    default:
        return Generation::Newer;
    }
}

} // namespace

QString generationName(Generation generation)
{
    switch (generation) {
    case Generation::Older:
        return QStringLiteral("Support002");
    case Generation::Newer:
        return QStringLiteral("Support003");
    case Generation::External:
        break;
    }
    return QStringLiteral("external");
}

Generation generationForFolder(const QString &folderName)
{
    if (folderName == QLatin1String("Support002"))
        return Generation::Older;
    if (folderName == QLatin1String("Support003"))
        return Generation::Newer;
    return Generation::External;
}

Generation dataGeneration(Generation generation)
{
    return generation == Generation::External ? Generation::Newer : generation;
}

QString environmentRoot()
{
    const QString configured = qEnvironmentVariable("PANELHOLD_COMMON_APPDATA");
    if (!configured.isEmpty())
        return QDir::cleanPath(configured);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/panelhold-adobe");
}

QString databasePath(const QString &root, Generation generation)
{
    return root + QLatin1String(dataGeneration(generation) == Generation::Older
                                    ? olderDatabaseRelative
                                    : newerDatabaseRelative);
}

QString hostsFilePath(const QString &root)
{
    return standinFolder(root) + QStringLiteral("/hosts.txt");
}

QString extensionsFolder(const QString &root, Generation generation)
{
    return root + QStringLiteral("/extensions/") + generationName(dataGeneration(generation));
}

QString packagesFolder(const QString &root, Generation generation)
{
    return root + QStringLiteral("/packages/") + generationName(dataGeneration(generation));
}

QString standinFolder(const QString &root)
{
    return root + QStringLiteral("/standin");
}

QString faultSwitchPath(const QString &root, const QString &switchName)
{
    return standinFolder(root) + QStringLiteral("/faults/") + switchName;
}

QString verbName(Verb verb)
{
    switch (verb) {
    case Verb::Install:
        return QStringLiteral("install");
    case Verb::Remove:
        return QStringLiteral("remove");
    case Verb::List:
        break;
    }
    return QStringLiteral("list");
}

QString scriptPath(const QString &root, Generation generation, Verb verb, const QString &suffix)
{
    return standinFolder(root) + QStringLiteral("/script/") + generationName(generation) +
           QLatin1Char('/') + verbName(verb) + suffix;
}

QList<HostEntry> defaultHosts()
{
    const QStringList photoshop{QStringLiteral("PHXS"), QStringLiteral("PHSP")};
    return {
        {Generation::Older, QStringLiteral("Photoshop CS6"), photoshop, QStringLiteral("13.0")},
        {Generation::Older,
         QStringLiteral("Illustrator CS6"),
         {QStringLiteral("ILST")},
         QStringLiteral("16.0")},
        {Generation::Newer, QStringLiteral("Photoshop CC 2019 (ver 20.0)"), photoshop,
         QStringLiteral("20.0")},
        {Generation::Newer,
         QStringLiteral("Illustrator 2023 (ver 27.0)"),
         {QStringLiteral("ILST")},
         QStringLiteral("27.0")},
        {Generation::Newer,
         QStringLiteral("InDesign 2023 (ver 18.0)"),
         {QStringLiteral("IDSN")},
         QStringLiteral("18.0")},
    };
}

QList<HostEntry> readHosts(const QString &root)
{
    QList<HostEntry> hosts;
    QString text = QString::fromUtf8(readFile(hostsFilePath(root)));
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        // generation | codes | version | host line (the host line may hold '|')
        const QStringList fields = line.split(QLatin1Char('|'));
        if (fields.size() < 4)
            continue;
        HostEntry host;
        const QString generation = fields.at(0).trimmed().toLower();
        if (generation == QLatin1String("support002") || generation == QLatin1String("older"))
            host.generation = Generation::Older;
        else if (generation == QLatin1String("support003") || generation == QLatin1String("newer"))
            host.generation = Generation::Newer;
        else
            continue;
        for (const QString &code : fields.at(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            host.codes << code.trimmed().toUpper();
        host.version = fields.at(2).trimmed();
        host.hostLine = fields.mid(3).join(QLatin1Char('|')).trimmed();
        if (!host.hostLine.isEmpty())
            hosts << host;
    }
    return hosts;
}

bool writeHosts(const QString &root, const QList<HostEntry> &hosts)
{
    QString text;
    QTextStream stream(&text);
    stream << "# Host applications the stand-in tool pretends are installed.\n"
              "# generation | host codes | version | host line as the listing prints it\n"
              "# generation is Support002 (older) or Support003 (newer; the external\n"
              "# tool uses these too). The listing prints hosts in this order.\n";
    for (const HostEntry &host : hosts) {
        stream << generationName(dataGeneration(host.generation)) << " | "
               << host.codes.join(QLatin1Char(',')) << " | " << host.version << " | "
               << host.hostLine << '\n';
    }
    stream.flush();
    return writeFile(hostsFilePath(root), text.toUtf8());
}

bool ensureBaseFolders(const QString &root)
{
    QDir dir;
    return dir.mkpath(root + QStringLiteral("/Panelhold")) &&
           dir.mkpath(QFileInfo(databasePath(root, Generation::Older)).absolutePath()) &&
           dir.mkpath(standinFolder(root));
}

bool prepareEnvironment(const QString &root, const QList<HostEntry> &hosts)
{
    if (!ensureBaseFolders(root) || !writeHosts(root, hosts))
        return false;
    for (Generation generation : {Generation::Older, Generation::Newer}) {
        ExtensionDatabase database(databasePath(root, generation), generation);
        if (!database.open())
            return false;
    }
    return true;
}

void applyFaultSwitches(const QString &root)
{
    for (Generation generation : {Generation::Older, Generation::Newer}) {
        const QString damage = faultSwitchPath(root, damageSwitch(generation));
        if (QFile::exists(damage) && setDamaged(root, generation, true))
            QFile::remove(damage);
        syncUnopenable(root, generation);
    }
}

bool setFault(const QString &root, Fault fault, bool on)
{
    switch (fault) {
    case Fault::HostRunning: {
        const QString path = faultSwitchPath(root, QLatin1String(hostRunningSwitch));
        return on ? writeFile(path, "running\n") : (!QFile::exists(path) || QFile::remove(path));
    }
    case Fault::NewerRetired:
    case Fault::NewerRetiredNotice: {
        const QString path = faultSwitchPath(root, QLatin1String(newerRetiredSwitch));
        if (!on)
            return !QFile::exists(path) || QFile::remove(path);
        return writeFile(path, fault == Fault::NewerRetired ? "marker\n" : "notice\n");
    }
    case Fault::OlderDatabaseDamaged:
    case Fault::NewerDatabaseDamaged:
        return setDamaged(root, faultGeneration(fault), on);
    case Fault::OlderDatabaseUnopenable:
    case Fault::NewerDatabaseUnopenable: {
        const Generation generation = faultGeneration(fault);
        const QString path = faultSwitchPath(root, unopenableSwitch(generation));
        const bool switched =
            on ? writeFile(path, "on\n") : (!QFile::exists(path) || QFile::remove(path));
        return switched && syncUnopenable(root, generation) && isFaultOn(root, fault) == on;
    }
    }
    return false;
}

bool isFaultOn(const QString &root, Fault fault)
{
    switch (fault) {
    case Fault::HostRunning:
        return QFile::exists(faultSwitchPath(root, QLatin1String(hostRunningSwitch)));
    case Fault::NewerRetired:
    case Fault::NewerRetiredNotice: {
        const QString path = faultSwitchPath(root, QLatin1String(newerRetiredSwitch));
        if (!QFile::exists(path))
            return false;
        const bool notice = readFile(path).trimmed() == "notice";
        return notice == (fault == Fault::NewerRetiredNotice);
    }
    case Fault::OlderDatabaseDamaged:
    case Fault::NewerDatabaseDamaged: {
        const Generation generation = faultGeneration(fault);
        if (!QFileInfo(databasePath(root, generation)).isFile())
            return false;
        ExtensionDatabase database(databasePath(root, generation), generation);
        return database.open() && database.isDamaged();
    }
    case Fault::OlderDatabaseUnopenable:
    case Fault::NewerDatabaseUnopenable:
        return QFileInfo(databasePath(root, faultGeneration(fault))).isDir();
    }
    return false;
}

bool writeScript(const QString &root, Generation generation, Verb verb, const QByteArray &out,
                 const QByteArray &err, bool once)
{
    // The .stdout file marks the verb as scripted even when it is empty.
    bool ok = writeFile(scriptPath(root, generation, verb, QStringLiteral(".stdout")), out);
    const QString errPath = scriptPath(root, generation, verb, QStringLiteral(".stderr"));
    ok = ok && (err.isEmpty() ? (!QFile::exists(errPath) || QFile::remove(errPath))
                              : writeFile(errPath, err));
    const QString oncePath = scriptPath(root, generation, verb, QStringLiteral(".once"));
    ok = ok && (once ? writeFile(oncePath, QByteArray())
                     : (!QFile::exists(oncePath) || QFile::remove(oncePath)));
    return ok;
}

bool clearScript(const QString &root, Generation generation, Verb verb)
{
    bool ok = true;
    for (const char *suffix : {".stdout", ".stderr", ".once"}) {
        const QString path = scriptPath(root, generation, verb, QLatin1String(suffix));
        ok = (!QFile::exists(path) || QFile::remove(path)) && ok;
    }
    return ok;
}

} // namespace StandIn
