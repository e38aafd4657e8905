#include "scenario.h"

#include "feedserver.h"
#include "standin.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <algorithm>
#include <random>

QByteArray benchIconPng(uint seed)
{
    // 32 x 32 with a gradient, so that decoding costs what a real icon's does.
    QImage image(32, 32, QImage::Format_ARGB32);
    const QColor base = QColor::fromHsv(int(seed % 360), 160, 220);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, base.darker(100 + x + y));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

namespace {
using StandIn::Generation;

struct HostTemplate
{
    const char *line;
    QStringList codes;
    const char *version;
    const char *product; // as .mxi manifests name it
};

// Older hosts keep their release in the name ("Photoshop CS6"); the newer ones fold into the
// product's name in the window's host list.
const QList<HostTemplate> &olderHosts()
{
    static const QList<HostTemplate> hosts{
        {"Photoshop CS6", {"PHXS", "PHSP"}, "13.0", "Photoshop"},
        {"Illustrator CS6", {"ILST"}, "16.0", "Illustrator"},
        {"InDesign CS6", {"IDSN"}, "8.0", "InDesign"},
        {"Premiere Pro CS6", {"PPRO"}, "6.0", "Premiere Pro"},
    };
    return hosts;
}

const QList<HostTemplate> &newerHosts()
{
    static const QList<HostTemplate> hosts{
        {"Photoshop CC 2019 (ver 20.0)", {"PHXS", "PHSP"}, "20.0", "Photoshop"},
        {"Illustrator 2023 (ver 27.0)", {"ILST"}, "27.0", "Illustrator"},
        {"InDesign 2023 (ver 18.0)", {"IDSN"}, "18.0", "InDesign"},
        {"Premiere Pro 2023 (ver 23.0)", {"PPRO"}, "23.0", "Premiere Pro"},
        {"After Effects 2023 (ver 23.0)", {"AEFT"}, "23.0", "After Effects"},
        {"Audition 2023 (ver 23.0)", {"AUDT"}, "23.0", "Audition"},
        {"Bridge 2023 (ver 13.0)", {"KBRG"}, "13.0", "Bridge"},
        {"Animate 2023 (ver 23.0)", {"FLPR"}, "23.0", "Animate"},
    };
    return hosts;
}

// Exactly round(share * count) entries set, spread by a fixed seed so every bench run gets the
// same scenario and the two shares do not line up with each other.
QList<bool> pick(int count, double share, unsigned seed)
{
    QList<int> order;
    for (int i = 0; i < count; ++i)
        order << i;
    std::mt19937 random(seed);
    std::shuffle(order.begin(), order.end(), random);
    QList<bool> chosen;
    for (int i = 0; i < count; ++i)
        chosen << false;
    const int wanted = qRound(share * count);
    for (int i = 0; i < wanted; ++i)
        chosen[order.at(i)] = true;
    return chosen;
}

LocalHttpServer::Route feedRoute(const QString &version, int latencyMs)
{
    LocalHttpServer::Route route;
    route.body = StandIn::updateFeedXml(version, QStringLiteral("http://127.0.0.1:9/none.zxp"));
    route.contentType = "text/xml";
    route.delayMs = latencyMs;
    return route;
}

bool installed(const QString &root, Generation generation, const QString &name)
{
    const QList<StandIn::InstalledExtension> rows = StandIn::installedExtensions(root, generation);
    return std::any_of(rows.begin(), rows.end(),
                       [&](const StandIn::InstalledExtension &row) { return row.name == name; });
}

bool installThrough(const QString &root, Generation generation, const QString &path)
{
    return StandIn::installPackage(root, generation, path)
        .contains(QLatin1String("Installation successful"));
}
} // namespace

QString Scenario::feedPath(int index) const
{
    return QStringLiteral("/feed/%1.xml").arg(index, 5, 10, QLatin1Char('0'));
}

QString Scenario::packagePath(int index) const
{
    return packages + QStringLiteral("/extension-%1.zxp").arg(index, 5, 10, QLatin1Char('0'));
}

int Scenario::announcingCount(bool withSilentFeeds) const
{
    int count = 0;
    for (int i = 0; i < names.size(); ++i)
        count += announcing.at(i) && !(withSilentFeeds && silent.at(i)) ? 1 : 0;
    return count;
}

QString Scenario::probePath()
{
    return QStringLiteral("/feed/probe.xml");
}

Routes Scenario::routes(bool silentFeeds) const
{
    Routes list;
    for (int i = 0; i < names.size(); ++i) {
        LocalHttpServer::Route route =
            feedRoute(announcing.at(i) ? QStringLiteral("1.1") : QStringLiteral("1.0"), latencyMs);
        // Accepts the request and never answers within any bench's life.
        if (silentFeeds && silent.at(i))
            route.delayMs = 3600 * 1000;
        list << qMakePair(feedPath(i), route);
    }
    const LocalHttpServer::Route quiet = feedRoute(QStringLiteral("1.0"), latencyMs);
    list << qMakePair(probePath(), quiet);
    for (int run = 0; run < runs; ++run) {
        list << qMakePair(QStringLiteral("/feed/run-%1-window.xml").arg(run), quiet);
        list << qMakePair(QStringLiteral("/feed/run-%1-bare.xml").arg(run), quiet);
    }
    return list;
}

QString Scenario::runPackage(int run, bool throughWindow) const
{
    return packages + QStringLiteral("/run-%1-%2.zxp")
                          .arg(run)
                          .arg(throughWindow ? QStringLiteral("window") : QStringLiteral("bare"));
}

QString Scenario::runPackageName(int run, bool throughWindow) const
{
    return QStringLiteral("Bench Run %1 %2")
        .arg(run)
        .arg(throughWindow ? QStringLiteral("Dropped") : QStringLiteral("Bare"));
}

QString Scenario::runRemovalName(int run, bool throughWindow) const
{
    // Spread over the list, so the window does not always remove its first row.
    const int index = (names.size() / 2 + 2 * run + (throughWindow ? 0 : 1)) % names.size();
    return names.value(index);
}

bool Scenario::restoreAfterRun(int run, QString *error) const
{
    for (bool window : {true, false}) {
        const QString name = runRemovalName(run, window);
        const int index = names.indexOf(name);
        for (Generation generation : {Generation::Older, Generation::Newer}) {
            if (!installed(root, generation, name) &&
                !installThrough(root, generation, packagePath(index))) {
                *error = QStringLiteral("could not put %1 back").arg(name);
                return false;
            }
        }
        const QString added = runPackageName(run, window);
        for (Generation generation : {Generation::Older, Generation::Newer}) {
            if (installed(root, generation, added))
                StandIn::removeExtension(root, generation, added);
            if (installed(root, generation, added)) {
                *error = QStringLiteral("could not remove %1 again").arg(added);
                return false;
            }
        }
    }
    return true;
}

bool buildScenario(const BenchParameters &parameters, const FeedServer &server,
                   const QString &folder, Scenario *scenario, QString *error)
{
    Scenario &s = *scenario;
    s.root = folder + QStringLiteral("/root");
    s.packages = folder + QStringLiteral("/packages");
    s.latencyMs = parameters.latencyMs;
    s.runs = parameters.runs;
    s.hostName = QStringLiteral("Photoshop");
    if (!QDir().mkpath(s.root) || !QDir().mkpath(s.packages)) {
        *error = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }

    const int olderCount = qMax(1, parameters.hosts / 3);
    const int newerCount = parameters.hosts - olderCount;
    QList<StandIn::HostEntry> hosts;
    QStringList products;
    const auto addHost = [&](Generation generation, const HostTemplate &host) {
        hosts << StandIn::HostEntry{generation, QString::fromLatin1(host.line), host.codes,
                                    QString::fromLatin1(host.version)};
        if (!products.contains(QLatin1String(host.product)))
            products << QString::fromLatin1(host.product);
    };
    for (int i = 0; i < olderCount; ++i)
        addHost(Generation::Older, olderHosts().at(i));
    for (int i = 0; i < newerCount; ++i)
        addHost(Generation::Newer, newerHosts().at(i));
    if (!StandIn::prepareEnvironment(s.root, hosts)) {
        *error = QStringLiteral("cannot prepare the stand-in environment in ") + s.root;
        return false;
    }

    const auto build = [&](const QString &path, const QString &name, const QString &feed,
                           int feedHost) {
        StandIn::SamplePackage package;
        package.name = name;
        package.version = QStringLiteral("1.0");
        for (const QString &product : qAsConst(products))
            package.hosts << StandIn::SampleHost{product, QString()};
        package.signature = true;
        package.updateUrl = server.url(feed, feedHost).toString();
        package.description = QStringLiteral("A package of the bench's scenario.");
        // Every package brings an icon, as real ones do, so the table's first fill decodes.
        package.iconPng = benchIconPng(qHash(name));
        return StandIn::buildSamplePackage(path, package);
    };

    s.announcing = pick(parameters.extensions, parameters.announceShare, 1);
    s.silent = pick(parameters.extensions, parameters.silentShare, 2);
    for (int i = 0; i < parameters.extensions; ++i) {
        const QString name = QStringLiteral("Bench Extension %1").arg(i, 5, 10, QLatin1Char('0'));
        s.names << name;
        // Round-robin over the feed hosts, so neighbouring rows ask different hosts.
        if (!build(s.packagePath(i), name, s.feedPath(i), i % server.hostCount())) {
            *error = QStringLiteral("cannot build the package of ") + name;
            return false;
        }
        for (Generation generation : {Generation::Older, Generation::Newer}) {
            if (!installThrough(s.root, generation, s.packagePath(i))) {
                *error = QStringLiteral("the stand-in did not install ") + name;
                return false;
            }
        }
    }
    for (int run = 0; run < parameters.runs; ++run) {
        for (bool window : {true, false}) {
            const QString feed =
                QStringLiteral("/feed/run-%1-%2.xml")
                    .arg(run)
                    .arg(window ? QStringLiteral("window") : QStringLiteral("bare"));
            if (!build(s.runPackage(run, window), s.runPackageName(run, window), feed, 0)) {
                *error = QStringLiteral("cannot build the packages a run installs");
                return false;
            }
        }
    }
    return true;
}
