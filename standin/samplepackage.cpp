// Builds small but well-formed extension packages for tests and the demo.

#include "standin.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

namespace StandIn {

namespace {

const char *const iconEntry = "icons/icon.png";

QString defaultBundleId(const QString &name)
{
    QString id;
    for (const QChar c : name.toLower()) {
        if (c.isLetterOrNumber() && c.unicode() < 128)
            id += c;
    }
    return QStringLiteral("com.panelhold.sample.") + (id.isEmpty() ? QStringLiteral("x") : id);
}

QString defaultMxiName(const QString &name)
{
    QString fileName = name;
    for (QChar &c : fileName) {
        // Whatever a Windows file name may not hold, so the package unpacks everywhere.
        if (QStringLiteral("/\\:<>\"|?*").contains(c))
            c = QLatin1Char('_');
    }
    return (fileName.isEmpty() ? QStringLiteral("extension") : fileName) + QStringLiteral(".mxi");
}

QByteArray mxiXml(const SamplePackage &package)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("macromedia-extension"));
    writer.writeAttribute(QStringLiteral("id"), package.bundleId.isEmpty()
                                                    ? defaultBundleId(package.name)
                                                    : package.bundleId);
    writer.writeAttribute(QStringLiteral("name"), package.name);
    writer.writeAttribute(QStringLiteral("version"), package.version);
    writer.writeAttribute(QStringLiteral("type"), QStringLiteral("Panel"));
    writer.writeAttribute(QStringLiteral("requires-restart"), QStringLiteral("true"));
    writer.writeEmptyElement(QStringLiteral("author"));
    writer.writeAttribute(QStringLiteral("name"), QStringLiteral("Panelhold samples"));
    writer.writeStartElement(QStringLiteral("products"));
    for (const SampleHost &host : package.hosts) {
        writer.writeEmptyElement(QStringLiteral("product"));
        writer.writeAttribute(QStringLiteral("name"), host.name);
        if (!host.version.isEmpty())
            writer.writeAttribute(QStringLiteral("version"), host.version);
        writer.writeAttribute(QStringLiteral("primary"), QStringLiteral("true"));
    }
    writer.writeEndElement();
    writer.writeTextElement(QStringLiteral("description"), package.description);
    if (!package.updateUrl.isEmpty()) {
        writer.writeEmptyElement(QStringLiteral("update"));
        writer.writeAttribute(QStringLiteral("url"), package.updateUrl);
        writer.writeAttribute(QStringLiteral("method"), QStringLiteral("directlink"));
    }
    if (!package.iconPng.isEmpty()) {
        writer.writeEmptyElement(QStringLiteral("icon"));
        writer.writeAttribute(QStringLiteral("src"), QLatin1String(iconEntry));
    }
    writer.writeStartElement(QStringLiteral("files"));
    writer.writeEmptyElement(QStringLiteral("file"));
    writer.writeAttribute(QStringLiteral("source"), QStringLiteral("index.html"));
    writer.writeAttribute(QStringLiteral("destination"), QString());
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

QByteArray csxsXml(const SamplePackage &package)
{
    const QString bundleId =
        package.bundleId.isEmpty() ? defaultBundleId(package.name) : package.bundleId;
    const QString panelId = bundleId + QStringLiteral(".panel");
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("ExtensionManifest"));
    writer.writeAttribute(QStringLiteral("Version"), QStringLiteral("7.0"));
    writer.writeAttribute(QStringLiteral("ExtensionBundleId"), bundleId);
    writer.writeAttribute(QStringLiteral("ExtensionBundleVersion"), package.version);
    if (!package.name.isEmpty())
        writer.writeAttribute(QStringLiteral("ExtensionBundleName"), package.name);
    writer.writeStartElement(QStringLiteral("ExtensionList"));
    writer.writeEmptyElement(QStringLiteral("Extension"));
    writer.writeAttribute(QStringLiteral("Id"), panelId);
    writer.writeAttribute(QStringLiteral("Version"), package.version);
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("ExecutionEnvironment"));
    writer.writeStartElement(QStringLiteral("HostList"));
    for (const SampleHost &host : package.hosts) {
        writer.writeEmptyElement(QStringLiteral("Host"));
        writer.writeAttribute(QStringLiteral("Name"), host.name);
        if (!host.version.isEmpty())
            writer.writeAttribute(QStringLiteral("Version"), host.version);
    }
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("RequiredRuntimeList"));
    writer.writeEmptyElement(QStringLiteral("RequiredRuntime"));
    writer.writeAttribute(QStringLiteral("Name"), QStringLiteral("CSXS"));
    writer.writeAttribute(QStringLiteral("Version"), QStringLiteral("9.0"));
    writer.writeEndElement();
    writer.writeEndElement(); // ExecutionEnvironment
    writer.writeStartElement(QStringLiteral("DispatchInfoList"));
    writer.writeStartElement(QStringLiteral("Extension"));
    writer.writeAttribute(QStringLiteral("Id"), panelId);
    writer.writeStartElement(QStringLiteral("DispatchInfo"));
    writer.writeStartElement(QStringLiteral("Resources"));
    writer.writeTextElement(QStringLiteral("MainPath"), QStringLiteral("./index.html"));
    writer.writeEndElement();
    writer.writeStartElement(QStringLiteral("UI"));
    writer.writeTextElement(QStringLiteral("Type"), QStringLiteral("Panel"));
    writer.writeTextElement(QStringLiteral("Menu"), package.name);
    if (!package.iconPng.isEmpty()) {
        writer.writeStartElement(QStringLiteral("Icons"));
        writer.writeStartElement(QStringLiteral("Icon"));
        writer.writeAttribute(QStringLiteral("Type"), QStringLiteral("Normal"));
        writer.writeCharacters(QStringLiteral("./") + QLatin1String(iconEntry));
        writer.writeEndElement();
        writer.writeEndElement();
    }
    writer.writeEndElement(); // UI
    writer.writeEndElement(); // DispatchInfo
    writer.writeEndElement(); // Extension
    writer.writeEndElement(); // DispatchInfoList
    writer.writeEndElement(); // ExtensionManifest
    writer.writeEndDocument();
    return xml;
}

QByteArray uxpJson(const SamplePackage &package)
{
    QJsonArray hosts;
    for (const SampleHost &host : package.hosts) {
        QJsonObject entry{{QStringLiteral("app"), host.name}};
        if (!host.version.isEmpty())
            entry.insert(QStringLiteral("minVersion"), host.version);
        hosts.append(entry);
    }
    const QJsonObject manifest{{QStringLiteral("manifestVersion"), 5},
                               {QStringLiteral("id"), package.bundleId.isEmpty()
                                                          ? defaultBundleId(package.name)
                                                          : package.bundleId},
                               {QStringLiteral("name"), package.name},
                               {QStringLiteral("version"), package.version},
                               {QStringLiteral("main"), QStringLiteral("index.html")},
                               {QStringLiteral("host"), hosts}};
    return QJsonDocument(manifest).toJson();
}

bool addEntry(QuaZip *zip, const QString &name, const QByteArray &data, bool permissions)
{
    QuaZipFile file(zip);
    QuaZipNewInfo info(name);
    if (permissions)
        info.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                            QFile::ReadOther);
    if (!file.open(QIODevice::WriteOnly, info))
        return false;
    const bool written = file.write(data) == data.size();
    file.close();
    return written && file.getZipError() == ZIP_OK;
}

} // namespace

bool buildSamplePackage(const QString &zipPath, const SamplePackage &package)
{
    QList<QPair<QString, QByteArray>> entries;
    switch (package.manifest) {
    case ManifestKind::Mxi:
        entries << qMakePair(package.mxiFileName.isEmpty() ? defaultMxiName(package.name)
                                                           : package.mxiFileName,
                             mxiXml(package));
        break;
    case ManifestKind::Csxs:
        entries << qMakePair(QStringLiteral("CSXS/manifest.xml"), csxsXml(package));
        break;
    case ManifestKind::Uxp:
        entries << qMakePair(QStringLiteral("manifest.json"), uxpJson(package));
        break;
    case ManifestKind::None:
        break;
    }
    const QString title = package.name.toHtmlEscaped();
    entries << qMakePair(QStringLiteral("index.html"),
                         QStringLiteral("<!DOCTYPE html>\n<html><head><title>%1</title></head>"
                                        "<body><h1>%1</h1><p>%2</p></body></html>\n")
                             .arg(title, package.description.toHtmlEscaped())
                             .toUtf8());
    if (!package.iconPng.isEmpty())
        entries << qMakePair(QString::fromLatin1(iconEntry), package.iconPng);
    if (package.signature) {
        entries << qMakePair(QStringLiteral("META-INF/signatures.xml"),
                             QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                               "<signatures><!-- sample package, not really "
                                               "signed --></signatures>\n"));
    }
    entries << package.extraEntries;

    QDir().mkpath(QFileInfo(zipPath).absolutePath());
    QFile::remove(zipPath);
    QuaZip zip(zipPath);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    bool ok = true;
    for (const auto &entry : qAsConst(entries))
        ok = ok && addEntry(&zip, entry.first, entry.second, !package.withoutPermissionBits);
    zip.close();
    return ok && zip.getZipError() == ZIP_OK;
}

QByteArray updateFeedXml(const QString &version, const QString &downloadUrl,
                         const QString &description)
{
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(QStringLiteral("ExtensionUpdateInformation"));
    writer.writeTextElement(QStringLiteral("version"), version);
    writer.writeTextElement(QStringLiteral("download"), downloadUrl);
    if (!description.isEmpty())
        writer.writeTextElement(QStringLiteral("description"), description);
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

} // namespace StandIn
