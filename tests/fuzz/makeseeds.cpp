// Writes the fuzzing targets' seed inputs and dictionaries:
//   fuzz_makeseeds <seed folder> <generated literals header>
// Each target gets <seed folder>/<target>/ with samples of its format; the cipher's samples are
// the program's own stored literals, taken from the header the build enciphered.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        std::fprintf(stderr, "fuzz_makeseeds: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeSeeds(const QDir &top, const QString &target, const QList<QByteArray> &seeds)
{
    if (!top.mkpath(target))
        return false;
    for (int i = 0; i < seeds.size(); ++i) {
        if (!writeFile(top.filePath(QStringLiteral("%1/seed%2").arg(target).arg(i)), seeds.at(i)))
            return false;
    }
    return true;
}

// libFuzzer's dictionary format: one quoted token a line, other than printable ASCII escaped.
bool writeDictionary(const QDir &top, const QString &target, const QList<QByteArray> &tokens)
{
    QByteArray text;
    for (const QByteArray &token : tokens) {
        text += '"';
        for (const char c : token) {
            if (c < 0x20 || c > 0x7e || c == '"' || c == '\\')
                text += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                text += c;
        }
        text += "\"\n";
    }
    return writeFile(top.filePath(target + QStringLiteral(".dict")), text);
}

QByteArray row(const QByteArray &name, const QByteArray &version)
{
    return " Enabled    " + name.leftJustified(56, ' ') + version + "\n";
}

QByteArray section(const QByteArray &count, const QByteArray &host, const QByteArray &rows)
{
    return count + " installed for " + host +
           "\n Status                        Extension Name                         Version\n"
           "=========  =======================================================  ==========\n" +
           rows + "\n";
}

QList<QByteArray> listingSeeds()
{
    const QByteArray others = "0 extensions installed for Others\n";
    QByteArray crlf = section("1 extension", "InDesign 2023 (ver 18.0)", row("A", "1.0")) + others;
    crlf.replace("\n", "\r\n");
    return {section("2 extensions", "Illustrator 2023 (ver 27.0)",
                    row("Other Tool", "2.1") + row("PaletteExtension", "1.0.25")) +
                section("0 extensions", "Photoshop CC 2019 (ver 20.0)", QByteArray()) + others,
            section("1 extension", "Photoshop CS6", row("Evil installed for Fake Host", "6.6")) +
                others,
            crlf, "Error: status = -192!\n"};
}

QList<QByteArray> installerSeeds()
{
    const QByteArray start = "Installing extension with file path = /tmp/Panel.zxp\n";
    return {start + "Installation successful\n", start + "Failed to install, status = -201!\n",
            start + "Failed to install, status = -412!\n",
            start + "Failed to install, status = -587!\n", QByteArray()};
}

QList<QByteArray> manifestSeeds()
{
    return {
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<macromedia-extension name=\"Panel\" version=\"1.0.2\" type=\"Flashpanel\">\n"
        "  <products><product name=\"Photoshop\" version=\"13\" maxversion=\"99\"/></products>\n"
        "  <update url=\"http://vendor.example/panel/update.xml\" method=\"directlink\"/>\n"
        "  <icon src=\"icons/icon.png\"/>\n"
        "  <description><![CDATA[A <b>panel</b> &amp; more]]></description>\n"
        "  <!-- comment -->\n"
        "</macromedia-extension>\n",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
        "<!DOCTYPE m [<!ENTITY feed \"http://vendor.example/f.xml\">]>"
        "<m><update url=\"&feed;\"/></m>"};
}

QList<QByteArray> feedSeeds()
{
    return {"<?xml version=\"1.0\"?>\n<ExtensionUpdateInformation>\n"
            "    <version>1.1</version>\n"
            "    <download>http://vendor.example/panel-1.1.zxp</download>\n"
            "    <description>Fixes &amp; notes</description>\n"
            "</ExtensionUpdateInformation>\n",
            "<f xmlns:u=\"urn:u\"><u:version>9</u:version><a><download>x</download></a></f>"};
}

QList<QByteArray> appcastSeeds()
{
    return {"<?xml version=\"1.0\" encoding=\"utf-8\"?>"
            "<rss version=\"2.0\" "
            "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
            "<channel><title>Panelhold</title>"
            "<item><title>4.2</title><link>http://www.velmora.example/download/4.2</link>"
            "<enclosure url=\"http://www.velmora.example/Panelhold-4.2.exe\" "
            "sparkle:version=\"4.2\" length=\"0\" type=\"application/octet-stream\"/></item>"
            "<item><sparkle:version>5.0</sparkle:version>"
            "<sparkle:shortVersionString>5.0 beta</sparkle:shortVersionString>"
            "<enclosure url=\"http://x.example/p.exe\"/></item>"
            "</channel></rss>"};
}

// Led by the byte that picks namespace processing. Well-formed documents nested past the limit
// in encodings that hide their angle brackets from a UTF-8 reading: UTF-7, and UTF-16 with and
// without a byte order mark.
QList<QByteArray> boundedXmlSeeds()
{
    const QByteArray utf7 = "<?xml version=\"1.0\" encoding=\"UTF-7\"?><r>" +
                            QByteArray("+ADw-a+AD4-").repeated(300) +
                            QByteArray("+ADw-/a+AD4-").repeated(300) + "</r>";
    QByteArray utf16;
    for (const char c :
         "<r>" + QByteArray("<a>").repeated(300) + QByteArray("</a>").repeated(300) + "</r>")
        utf16 += QByteArray(1, c) + '\0';
    return {"0" + utf7,
            "1" + utf7,
            "0\xff\xfe" + utf16,
            "0" + utf16,
            "1<rss xmlns:s=\"urn:s\"><a><s:b/></a></rss>",
            "0<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xe9</a>"};
}

QList<QByteArray> hostNameSeeds()
{
    return {"Photoshop CC 2019 (ver 20.0)",
            "Illustrator 2023 (ver 27.0)",
            "Photoshop CS6",
            "Dreamweaver cc 2019",
            "Premiere CCX",
            "Photoshop Elements 2023"};
}

// Every enciphered literal of the header, both platforms' values, as stored bytes.
QList<QByteArray> cipherSeeds(const QString &headerPath)
{
    QFile header(headerPath);
    if (!header.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(header.readAll());
    static const QRegularExpression literal(QStringLiteral("\\[\\] = \"([A-Za-z0-9+/=]+)\""));
    QList<QByteArray> seeds;
    for (auto it = literal.globalMatch(text); it.hasNext();)
        seeds << QByteArray::fromBase64(it.next().captured(1).toLatin1());
    return seeds;
}

const QList<QByteArray> xmlTokens = {"<?xml version=\"1.0\"?>",
                                     "<!DOCTYPE",
                                     "<!ENTITY",
                                     "<![CDATA[",
                                     "]]>",
                                     "<!--",
                                     "-->",
                                     "</",
                                     "/>",
                                     "&amp;",
                                     "&#x41;",
                                     "xmlns:",
                                     "encoding=\"UTF-16\"",
                                     "<a>",
                                     "</a>"};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_makeseeds <seed folder> <literals header>\n");
        return 2;
    }
    const QDir top(QString::fromLocal8Bit(argv[1]));
    if (!top.mkpath(QStringLiteral(".")))
        return 1;
    const QList<QByteArray> literals = cipherSeeds(QString::fromLocal8Bit(argv[2]));
    if (literals.isEmpty()) {
        std::fprintf(stderr, "fuzz_makeseeds: no literals in %s\n", argv[2]);
        return 1;
    }
    const bool ok =
        writeSeeds(top, QStringLiteral("listing"), listingSeeds()) &&
        writeSeeds(top, QStringLiteral("installermessages"), installerSeeds()) &&
        writeSeeds(top, QStringLiteral("manifest"), manifestSeeds()) &&
        writeSeeds(top, QStringLiteral("feed"), feedSeeds()) &&
        writeSeeds(top, QStringLiteral("appcast"), appcastSeeds()) &&
        writeSeeds(top, QStringLiteral("cipher"), literals) &&
        writeSeeds(top, QStringLiteral("hostnames"), hostNameSeeds()) &&
        writeSeeds(top, QStringLiteral("boundedxml"), boundedXmlSeeds()) &&
        writeDictionary(
            top, QStringLiteral("listing"),
            {"installed for ", " extensions ", "1 extension ", " Enabled    ", "\r\n", "\n\n"}) &&
        writeDictionary(top, QStringLiteral("installermessages"),
                        {"-201!", "-1", "-5", "-6", "!", "Installation successful"}) &&
        writeDictionary(top, QStringLiteral("manifest"),
                        xmlTokens + QList<QByteArray>{"<update url=\"", "macromedia-extension"}) &&
        writeDictionary(top, QStringLiteral("feed"),
                        xmlTokens + QList<QByteArray>{"<version>", "<download>"}) &&
        writeDictionary(top, QStringLiteral("appcast"),
                        xmlTokens + QList<QByteArray>{"<item>", "<enclosure", "sparkle:version=\"",
                                                      "<link>"}) &&
        writeDictionary(top, QStringLiteral("boundedxml"),
                        xmlTokens + QList<QByteArray>{"encoding=\"UTF-7\"", "+ADw-", "+AD4-",
                                                      "\xff\xfe", QByteArray("<\0", 2)}) &&
        writeDictionary(top, QStringLiteral("hostnames"),
                        {" CC", " (ver ", " 2019", " 2020", " 2021", " 2022", " 2023"});
    return ok ? 0 : 1;
}
