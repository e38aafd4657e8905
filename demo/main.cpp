// panelhold_demo_seed <root> <samplesDir>
//
// Creates a demo environment for the stand-in tool under <root> (only when
// <root> does not exist yet) and sample packages in <samplesDir>.

#include "standin.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

namespace {

struct Sample
{
    QString fileName;
    StandIn::SamplePackage package;
    QColor colour;
    QList<StandIn::Generation> installInto;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// A rounded square in the sample's colour with its initial on it.
QByteArray drawIcon(const QColor &colour, const QString &letter)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    painter.setBrush(colour.lighter(130));
    painter.drawRoundedRect(QRectF(2, 2, 60, 24), 12, 12);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(36);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, 64, 64), Qt::AlignCenter, letter);
    painter.end();

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

StandIn::SamplePackage legacyPackage(const QString &name, const QString &version,
                                     const QStringList &products, const QString &description)
{
    StandIn::SamplePackage package;
    package.manifest = StandIn::ManifestKind::Mxi;
    package.name = name;
    package.version = version;
    for (const QString &product : products)
        package.hosts << StandIn::SampleHost{product, QString()};
    package.description = description;
    return package;
}

QList<StandIn::HostEntry> demoHosts()
{
    using StandIn::Generation;
    const QStringList photoshop{QStringLiteral("PHXS"), QStringLiteral("PHSP")};
    const QStringList illustrator{QStringLiteral("ILST")};
    return {
        {Generation::Older, QStringLiteral("Photoshop CS6"), photoshop, QStringLiteral("13.0")},
        {Generation::Older, QStringLiteral("Illustrator CS6"), illustrator, QStringLiteral("16.0")},
        {Generation::Newer, QStringLiteral("Photoshop CC 2019 (ver 20.0)"), photoshop,
         QStringLiteral("20.0")},
        {Generation::Newer, QStringLiteral("Photoshop CC 2020 (ver 21.0)"), photoshop,
         QStringLiteral("21.0")},
        {Generation::Newer, QStringLiteral("Illustrator 2023 (ver 27.0)"), illustrator,
         QStringLiteral("27.0")},
        {Generation::Newer,
         QStringLiteral("InDesign 2023 (ver 18.0)"),
         {QStringLiteral("IDSN")},
         QStringLiteral("18.0")},
    };
}

QList<Sample> demoSamples(const QString &samplesDir)
{
    using StandIn::Generation;
    const QString feedUrl =
        QUrl::fromLocalFile(samplesDir + QStringLiteral("/colour-harmony-update.xml")).toString();
    QList<Sample> samples;

    Sample harmony{
        QStringLiteral("colour-harmony-1.0.zxp"),
        legacyPackage(QStringLiteral("Colour Harmony"), QStringLiteral("1.0"),
                      {QStringLiteral("Photoshop"), QStringLiteral("Illustrator")},
                      QStringLiteral("Builds colour schemes from the foreground colour.")),
        QColor(0xd9, 0x53, 0x4f),
        {Generation::Newer, Generation::Older}};
    harmony.package.signature = true;
    harmony.package.updateUrl = feedUrl;
    samples << harmony;

    Sample harmonyUpdate = harmony;
    harmonyUpdate.fileName = QStringLiteral("colour-harmony-1.1.zxp");
    harmonyUpdate.package.version = QStringLiteral("1.1");
    harmonyUpdate.colour = QColor(0xc9, 0x30, 0x2c);
    harmonyUpdate.installInto.clear();
    samples << harmonyUpdate;

    Sample tidy{QStringLiteral("layer-tidy-2.3.zxp"),
                legacyPackage(QStringLiteral("Layer Tidy"), QStringLiteral("2.3"),
                              {QStringLiteral("Photoshop")},
                              QStringLiteral("Names and sorts layers.")),
                QColor(0x3c, 0x9d, 0x5a),
                {Generation::Newer}};
    tidy.package.signature = true;
    samples << tidy;

    Sample grid{QStringLiteral("grid-maker-1.0.4.zxp"),
                legacyPackage(QStringLiteral("Grid Maker"), QStringLiteral("1.0.4"),
                              {QStringLiteral("Illustrator"), QStringLiteral("InDesign")},
                              QStringLiteral("Lays out column and baseline grids.")),
                QColor(0x33, 0x7a, 0xb7),
                {Generation::Newer}};
    grid.package.signature = true;
    samples << grid;

    // An older, unsigned ".mxp" package: only ".zxp" packages need a signature.
    samples << Sample{QStringLiteral("batch-renamer-0.9.mxp"),
                      legacyPackage(QStringLiteral("Batch Renamer"), QStringLiteral("0.9"),
                                    {QStringLiteral("Photoshop")},
                                    QStringLiteral("Renames files in bulk.")),
                      QColor(0x8e, 0x44, 0xad),
                      {Generation::Older}};

    Sample swatch{QStringLiteral("swatch-exchange-3.0.zxp"),
                  legacyPackage(QStringLiteral("Swatch Exchange"), QStringLiteral("3.0"),
                                {QStringLiteral("Photoshop"), QStringLiteral("Illustrator")},
                                QStringLiteral("Shares swatches between applications.")),
                  QColor(0xf0, 0xad, 0x4e),
                  {}};
    swatch.package.signature = true;
    samples << swatch;

    Sample specimen{QStringLiteral("type-specimen-1.2.zxp"),
                    legacyPackage(QStringLiteral("Type Specimen"), QStringLiteral("1.2"),
                                  {QStringLiteral("InDesign")},
                                  QStringLiteral("Sets a specimen page for a font.")),
                    QColor(0x5b, 0xc0, 0xde),
                    {}};
    specimen.package.signature = true;
    samples << specimen;

    // A UXP plugin: only Adobe's plugin installer agent takes it.
    Sample guides{QStringLiteral("guide-lines-1.0.ccx"),
                  legacyPackage(QStringLiteral("Guide Lines"), QStringLiteral("1.0"), {},
                                QStringLiteral("Draws guides from a layout grid.")),
                  QColor(0x2c, 0x3e, 0x50),
                  {}};
    guides.package.manifest = StandIn::ManifestKind::Uxp;
    guides.package.hosts << StandIn::SampleHost{QStringLiteral("PS"), QStringLiteral("20.0")};
    samples << guides;

    // In a folder whose name Adobe's tool cannot open ("Downloads" in Russian); Panelhold hands
    // the tool a copy at a plain path.
    Sample palette{QString::fromUtf8("\xd0\x97\xd0\xb0\xd0\xb3\xd1\x80\xd1\x83\xd0\xb7"
                                     "\xd0\xba\xd0\xb8/palette-pick-1.0.zxp"),
                   legacyPackage(QStringLiteral("Palette Pick"), QStringLiteral("1.0"),
                                 {QStringLiteral("Photoshop")},
                                 QStringLiteral("Picks palettes from images.")),
                   QColor(0x16, 0xa0, 0x85),
                   {}};
    palette.package.signature = true;
    samples << palette;

    for (Sample &sample : samples)
        sample.package.iconPng = drawIcon(sample.colour, sample.package.name.left(1));
    return samples;
}

int seed(const QString &root, const QString &samplesDir)
{
    if (QFileInfo::exists(root)) {
        out() << root << " already exists; nothing was changed.\n";
        return 0;
    }
    if (!QDir().mkpath(samplesDir) || !StandIn::prepareEnvironment(root, demoHosts())) {
        out() << "Cannot create " << root << " or " << samplesDir << "\n";
        return 1;
    }

    // A copy of the stand-in tool outside its generation folders acts as Adobe's plugin
    // installer agent, where Panelhold looks for it on the stand-in: the demo's UXP plugin
    // installs too.
#ifdef Q_OS_WIN
    const QString executable = QStringLiteral(".exe");
#else
    const QString executable;
#endif
    const QString agentFolder = root + QStringLiteral("/standin/agent");
    if (!QDir().mkpath(agentFolder) ||
        !QFile::copy(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/Contents/Support003/ExManCmd") + executable,
                     agentFolder + QStringLiteral("/UnifiedPluginInstallerAgent") + executable))
        out() << "No plugin installer agent in the demo: the stand-in tool is not beside the "
                 "seeder\n";

    const QList<Sample> samples = demoSamples(samplesDir);
    for (const Sample &sample : samples) {
        const QString path = samplesDir + QLatin1Char('/') + sample.fileName;
        if (!StandIn::buildSamplePackage(path, sample.package)) {
            out() << "Cannot write " << path << "\n";
            return 1;
        }
    }
    QFile feed(samplesDir + QStringLiteral("/colour-harmony-update.xml"));
    if (!feed.open(QIODevice::WriteOnly) ||
        feed.write(StandIn::updateFeedXml(
            QStringLiteral("1.1"),
            QUrl::fromLocalFile(samplesDir + QStringLiteral("/colour-harmony-1.1.zxp")).toString(),
            QStringLiteral("Adds triadic schemes and fixes rounding of hue values."))) < 0) {
        out() << "Cannot write " << feed.fileName() << "\n";
        return 1;
    }
    feed.close();

    for (const Sample &sample : samples) {
        for (StandIn::Generation generation : sample.installInto) {
            const QString path = samplesDir + QLatin1Char('/') + sample.fileName;
            const QString output = StandIn::installPackage(root, generation, path);
            if (!output.contains(QLatin1String("Installation successful"))) {
                out() << "Installing " << sample.fileName << " failed:\n" << output;
                return 1;
            }
            out() << "Installed " << sample.package.name << ' ' << sample.package.version << " for "
                  << StandIn::generationName(generation) << "\n";
        }
    }

    out() << "\nEnvironment root:  " << root << "\n"
          << "Older database:    " << StandIn::databasePath(root, StandIn::Generation::Older)
          << "\n"
          << "Newer database:    " << StandIn::databasePath(root, StandIn::Generation::Newer)
          << "\n"
          << "Hosts:             " << StandIn::hostsFilePath(root) << "\n"
          << "Sample packages:   " << samplesDir << "\n"
          << "Update feed:       " << feed.fileName() << "\n"
          << "Not installed yet: swatch-exchange-3.0.zxp, type-specimen-1.2.zxp, "
             "guide-lines-1.0.ccx (a UXP plugin), "
          << samples.last().fileName << "\n"
          << "\nRun Panelhold with PANELHOLD_COMMON_APPDATA=" << root << "\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // Icons are drawn off screen; the seeder never opens a window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: panelhold_demo_seed <root> <samplesDir>\n");
        return 2;
    }
    const int status = seed(QFileInfo(arguments.at(1)).absoluteFilePath(),
                            QFileInfo(arguments.at(2)).absoluteFilePath());
    out().flush();
    return status;
}
