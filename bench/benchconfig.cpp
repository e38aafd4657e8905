#include "benchconfig.h"

#include <QJsonArray>

namespace {
bool readInt(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

bool readShare(const QString &text, double *value)
{
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok || number < 0.0 || number > 1.0)
        return false;
    *value = number;
    return true;
}
} // namespace

QString usageText()
{
    return QStringLiteral(
        "panelhold_bench [options]\n"
        "  --hosts N            host applications, a third older generation (default 6, 2..12)\n"
        "  --extensions N       extensions per generation, each in both (default 200)\n"
        "  --feed-hosts N       feed servers (ports on 127.0.0.1), round-robin over the\n"
        "                       extensions (default 1, 1..1000)\n"
        "  --latency-ms N       feed answer delay (default 50)\n"
        "  --silent-share X     feeds that never answer, second scenario (default 0.1)\n"
        "  --announce-share X   feeds that announce a newer version (default 0.5)\n"
        "  --runs N             runs per figure; the table shows medians (default 5)\n"
        "  --stall-timeout-ms N the scan's no-progress timeout (default 3000)\n"
        "  --fill-rows A,B,...  hand-filled table sizes (default 1000,5000)\n"
        "  --tiny               2 hosts, 10 extensions, 2 feed hosts, 1 run, stall timeout\n"
        "                       1000 ms, fill 1000\n"
        "  --large              2,000 extensions per generation, 3 runs\n"
        "  --work-dir DIR       keep the scenario and logs there instead of a temporary folder\n");
}

bool parseParameters(const QStringList &arguments, BenchParameters *parameters, QString *error)
{
    BenchParameters &p = *parameters;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString option = arguments.at(i);
        if (option == QLatin1String("--tiny")) {
            p.hosts = 2;
            p.extensions = 10;
            // Two feed ports, so the quick run covers feeds spread over hosts too.
            p.feedHosts = 2;
            p.runs = 1;
            p.stallTimeoutMs = 1000;
            // The tiny run stays quick in a Debug build.
            p.fillRows = {1000};
            continue;
        }
        if (option == QLatin1String("--large")) {
            // A studio's share: the table, the scan and the removal at this size.
            p.extensions = 2000;
            p.runs = 3;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            *error = QStringLiteral("unknown option or missing value: ") + option;
            return false;
        }
        const QString value = arguments.at(++i);
        bool ok = true;
        if (option == QLatin1String("--hosts"))
            ok = readInt(value, 2, 12, &p.hosts);
        else if (option == QLatin1String("--extensions"))
            ok = readInt(value, 2, 20000, &p.extensions);
        else if (option == QLatin1String("--feed-hosts"))
            ok = readInt(value, 1, 1000, &p.feedHosts);
        else if (option == QLatin1String("--latency-ms"))
            ok = readInt(value, 0, 60000, &p.latencyMs);
        else if (option == QLatin1String("--silent-share"))
            ok = readShare(value, &p.silentShare);
        else if (option == QLatin1String("--announce-share"))
            ok = readShare(value, &p.announceShare);
        else if (option == QLatin1String("--runs"))
            ok = readInt(value, 1, 1000, &p.runs);
        else if (option == QLatin1String("--stall-timeout-ms"))
            ok = readInt(value, 100, 600000, &p.stallTimeoutMs);
        else if (option == QLatin1String("--work-dir"))
            p.workDir = value;
        else if (option == QLatin1String("--fill-rows")) {
            p.fillRows.clear();
            for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                int rows = 0;
                if (!readInt(part, 1, 100000, &rows)) {
                    ok = false;
                    break;
                }
                // Figures are kept by size, so a size given twice would count once.
                if (!p.fillRows.contains(rows))
                    p.fillRows << rows;
            }
        } else {
            *error = QStringLiteral("unknown option: ") + option;
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("bad value for %1: %2").arg(option, value);
            return false;
        }
    }
    return true;
}

QJsonObject WindowRunConfig::toJson() const
{
    QJsonArray rows;
    for (int count : fillRows)
        rows.append(count);
    return QJsonObject{
        {QStringLiteral("mode"),
         mode == Mode::Full ? QStringLiteral("full") : QStringLiteral("start-up")},
        {QStringLiteral("root"), root},
        {QStringLiteral("scratch"), scratch},
        {QStringLiteral("stallTimeoutMs"), stallTimeoutMs},
        {QStringLiteral("spawnedAtMs"), double(spawnedAtMs)},
        {QStringLiteral("hostName"), hostName},
        {QStringLiteral("expectedRows"), expectedRows},
        {QStringLiteral("probeFeedUrl"), probeFeedUrl},
        {QStringLiteral("installPackage"), installPackage},
        {QStringLiteral("installName"), installName},
        {QStringLiteral("floorInstallPackage"), floorInstallPackage},
        {QStringLiteral("removeName"), removeName},
        {QStringLiteral("floorRemoveName"), floorRemoveName},
        {QStringLiteral("fillRows"), rows},
        {QStringLiteral("announceShare"), announceShare},
    };
}

WindowRunConfig WindowRunConfig::fromJson(const QJsonObject &o)
{
    WindowRunConfig c;
    c.mode = o.value(QStringLiteral("mode")).toString() == QLatin1String("full")
                 ? Mode::Full
                 : Mode::StartUpOnly;
    c.root = o.value(QStringLiteral("root")).toString();
    c.scratch = o.value(QStringLiteral("scratch")).toString();
    c.stallTimeoutMs = o.value(QStringLiteral("stallTimeoutMs")).toInt(3000);
    c.spawnedAtMs = qint64(o.value(QStringLiteral("spawnedAtMs")).toDouble());
    c.hostName = o.value(QStringLiteral("hostName")).toString();
    c.expectedRows = o.value(QStringLiteral("expectedRows")).toInt();
    c.probeFeedUrl = o.value(QStringLiteral("probeFeedUrl")).toString();
    c.installPackage = o.value(QStringLiteral("installPackage")).toString();
    c.installName = o.value(QStringLiteral("installName")).toString();
    c.floorInstallPackage = o.value(QStringLiteral("floorInstallPackage")).toString();
    c.removeName = o.value(QStringLiteral("removeName")).toString();
    c.floorRemoveName = o.value(QStringLiteral("floorRemoveName")).toString();
    const QJsonArray rows = o.value(QStringLiteral("fillRows")).toArray();
    for (const QJsonValue &count : rows)
        c.fillRows << count.toInt();
    c.announceShare = o.value(QStringLiteral("announceShare")).toDouble(0.5);
    return c;
}
