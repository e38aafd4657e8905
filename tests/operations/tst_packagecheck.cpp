#include "operations/packagecheck.h"
#include "standin.h"

#include <QTemporaryDir>
#include <QtTest>

using StandIn::ManifestKind;
using StandIn::SamplePackage;

// The check before installing, on packages of every kind and with every fault it knows, beside
// the installed applications and versions a listing would have found.
class TestPackageCheck : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    static SamplePackage sample(ManifestKind kind, const QString &host, const QString &range)
    {
        SamplePackage package;
        package.manifest = kind;
        package.name = QStringLiteral("Colour Grid");
        package.version = QStringLiteral("1.0");
        package.hosts << StandIn::SampleHost{host, range};
        package.signature = true;
        return package;
    }

    QString write(const QString &fileName, const SamplePackage &package)
    {
        const QString path = m_folder.filePath(fileName);
        return StandIn::buildSamplePackage(path, package) ? path : QString();
    }

private slots:
    void checksPackages_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("hostLines");
        QTest::addColumn<QString>("installedVersion"); // of "Colour Grid"; empty: none
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("hosts");     // host and range in words
        QTest::addColumn<QString>("faultCode"); // the one code the check has a cause for
        QTest::addColumn<int>("installed");

        QVERIFY(m_folder.isValid());
        const QStringList photoshop{QStringLiteral("Photoshop CC 2019 (ver 20.0)"),
                                    QStringLiteral("Photoshop CS6")};
        const int cep = int(PackageKind::Cep);
        const int mxi = int(PackageKind::Mxi);
        const int uxp = int(PackageKind::Uxp);
        const int none = int(InstalledState::NotInstalled);

        QTest::newRow("CEP extension")
            << write("cep.zxp", sample(ManifestKind::Csxs, "PHXS", "[20.0,99.9]")) << photoshop
            << "" << cep << "PHXS 20.0 to 99.9"
            << "" << none;
        QTest::newRow("older extension")
            << write("old.mxp", sample(ManifestKind::Mxi, "Photoshop", "13")) << photoshop << ""
            << mxi << "Photoshop 13 or later"
            << "" << none;
        QTest::newRow("UXP plugin") << write("plugin.ccx", sample(ManifestKind::Uxp, "PS", "20.0"))
                                    << photoshop << "" << uxp << "PS 20.0 or later"
                                    << "" << none;

        SamplePackage unsignedPackage = sample(ManifestKind::Csxs, "PHXS", "");
        unsignedPackage.signature = false;
        QTest::newRow("unsigned") << write("unsigned.zxp", unsignedPackage) << photoshop << ""
                                  << cep << "PHXS any version"
                                  << "-402" << none;
        // Only ".zxp" packages must be signed.
        QTest::newRow("unsigned, not a .zxp") << write("unsigned.zip", unsignedPackage) << photoshop
                                              << "" << cep << "PHXS any version"
                                              << "" << none;

        SamplePackage nested = sample(ManifestKind::None, "", "");
        nested.hosts.clear();
        nested.extraEntries << qMakePair(QStringLiteral("Colour Grid/CSXS/manifest.xml"),
                                         QByteArray("<ExtensionManifest ExtensionBundleId=\"x\" "
                                                    "ExtensionBundleVersion=\"1.0\"/>"));
        QTest::newRow("manifest inside a folder")
            << write("nested.zxp", nested) << photoshop << "" << int(PackageKind::Unknown) << ""
            << "-160" << int(InstalledState::Unknown);
        SamplePackage outside = sample(ManifestKind::Csxs, "PHXS", "");
        outside.extraEntries << qMakePair(QStringLiteral("../outside.js"), QByteArray("x"));
        QTest::newRow("files outside the bundle")
            << write("outside.zxp", outside) << photoshop << "" << cep << "PHXS any version"
            << "-160" << none;
        SamplePackage bare = sample(ManifestKind::Csxs, "PHXS", "");
        bare.withoutPermissionBits = true;
        QTest::newRow("entries without permission bits")
            << write("bare.zxp", bare) << photoshop << "" << cep << "PHXS any version"
            << "-160" << none;

        QTest::newRow("no installed host")
            << write("dream.zxp", sample(ManifestKind::Mxi, "Dreamweaver", "")) << photoshop << ""
            << mxi << "Dreamweaver any version"
            << "-403" << none;
        QTest::newRow("installed host below the range")
            << write("ranged.zxp", sample(ManifestKind::Csxs, "PHXS", "[21.0,99.9]"))
            << QStringList{"Photoshop CC 2019 (ver 20.0)"} << "" << cep << "PHXS 21.0 to 99.9"
            << "-403" << none;
        QTest::newRow("plugin for an application not installed")
            << write("id.ccx", sample(ManifestKind::Uxp, "ID", "")) << photoshop << "" << uxp
            << "ID any version"
            << "-403" << none;
        QTest::newRow("same version installed")
            << write("same.zxp", sample(ManifestKind::Csxs, "PHXS", "")) << photoshop << "1.0.0"
            << cep << "PHXS any version"
            << "-412" << int(InstalledState::Same);
        QTest::newRow("newer version installed")
            << write("newer.zxp", sample(ManifestKind::Csxs, "PHXS", "")) << photoshop << "1.10"
            << cep << "PHXS any version"
            << "-418" << int(InstalledState::Newer);
        QTest::newRow("older version installed")
            << write("update.zxp", sample(ManifestKind::Csxs, "PHXS", "")) << photoshop << "0.9"
            << cep << "PHXS any version"
            << "" << int(InstalledState::Older);
    }

    void checksPackages()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, hostLines);
        QFETCH(QString, installedVersion);
        QFETCH(int, kind);
        QFETCH(QString, hosts);
        QFETCH(QString, faultCode);
        QFETCH(int, installed);
        QVERIFY(!path.isEmpty());

        PackageCheck check = checkPackage(path);
        QMap<QString, QString> versions{{QStringLiteral("Other Panel"), QStringLiteral("1.0")}};
        if (!installedVersion.isEmpty())
            versions.insert(QStringLiteral("Colour Grid"), installedVersion);
        compareWithInstalled(check, hostLines, versions);

        QVERIFY2(check.readable, qPrintable(check.problem));
        QCOMPARE(int(check.kind), kind);
        if (check.kind != PackageKind::Unknown) {
            QCOMPARE(check.name, QStringLiteral("Colour Grid"));
            QCOMPARE(check.version, QStringLiteral("1.0"));
            // Every sample names its identifier, an older manifest in its "id" attribute.
            QVERIFY(!check.id.isEmpty());
        }
        QStringList words;
        for (const PackageHost &host : qAsConst(check.hosts))
            words << host.host + QLatin1Char(' ') + host.range;
        QCOMPARE(words.join(QStringLiteral(", ")), hosts);
        QCOMPARE(int(check.installed), installed);

        // Exactly the expected code gets a cause; a clean package gets none for any code.
        for (const QString code : {"-160", "-402", "-403", "-412", "-418", "-201"})
            QVERIFY2(likelyCause(check, code).isEmpty() == (code != faultCode),
                     qPrintable(code + QStringLiteral(": ") + likelyCause(check, code)));
        QCOMPARE(packageFaultWords(check).size(), faultCode.isEmpty() ? 0 : 1);
    }

    void unreadablePackagesSayWhy_data()
    {
        QTest::addColumn<QString>("content"); // empty: nothing at the path
        QTest::addColumn<QString>("problem");
        QTest::newRow("missing") << ""
                                 << "the file does not exist or cannot be opened";
        QTest::newRow("not a zip archive") << "<html>not a package</html>"
                                           << "it is not a zip archive, or the archive is damaged";
    }

    void unreadablePackagesSayWhy()
    {
        QFETCH(QString, content);
        QFETCH(QString, problem);
        const QString path = m_folder.filePath(QStringLiteral("unreadable.zxp"));
        QFile::remove(path);
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content.toUtf8());
        }
        const PackageCheck check = checkPackage(path);
        QVERIFY(!check.readable);
        QCOMPARE(check.problem, problem);
        QVERIFY(likelyCause(check, QStringLiteral("-160")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPackageCheck)
#include "tst_packagecheck.moc"
