#include "support/boundedxml.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QTextCodec>
#include <QXmlStreamReader>

namespace {
// The DOM parser keeps a reference to an entity nobody declared as it is; here it reads as a blank.
class UndeclaredEntities : public QXmlStreamEntityResolver
{
public:
    QString resolveUndeclaredEntity(const QString &) override { return QStringLiteral(" "); }
};

bool readsShallow(QXmlStreamReader &reader)
{
    UndeclaredEntities undeclared;
    reader.setEntityResolver(&undeclared);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > MaxXmlDepth)
                return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    // A document the stream reader gives up on is not handed on: past the error the two readers
    // may disagree, and the DOM parser would meet the rest unchecked.
    return !reader.hasError();
}

// The DOM parser reads past things the stream reader refuses: an XML declaration it does not
// accept (an encoding Qt does not know, whose bytes are then read as UTF-8, or an odd version),
// bytes that are not UTF-8, and characters XML does not allow, such as control characters in
// text. A copy without the declaration and with those characters blanked has the same elements.
QString lenientCopy(QString text)
{
    static const QRegularExpression declaration(QStringLiteral("^\\x{feff}?<\\?xml\\s.*?\\?>"),
                                                QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = declaration.match(text);
    if (match.hasMatch())
        text.remove(0, match.capturedLength());
    for (QChar &c : text) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xfffe || u == 0xffff)
            c = QLatin1Char(' ');
    }
    return text;
}

// A document the stream reader refuses as it stands is read once more as its lenient copy.
bool readsShallowLeniently(const QString &text)
{
    QXmlStreamReader reader(lenientCopy(text));
    return readsShallow(reader);
}

// The bytes decoded as the DOM parser would decode them: a byte order mark or the first
// character's zero bytes pick UTF-32 or UTF-16, otherwise UTF-8; an encoding that the
// declaration names and Qt knows replaces it. Both readers are then given this one text, so the
// depth is checked on exactly what gets parsed: a stream reader and a DOM parser left to decode
// on their own could read different elements from the same bytes (UTF-7, for one, hides its
// angle brackets from a UTF-8 reading).
QString decodedAsDeclared(const QByteArray &xml)
{
    const auto byte = [&xml](int i) { return i < xml.size() ? uchar(xml.at(i)) : 0x100; };
    int mib = 106; // UTF-8
    if ((byte(0) == 0 && byte(1) == 0 && byte(2) == 0xfe && byte(3) == 0xff) ||
        (byte(0) == 0xff && byte(1) == 0xfe && byte(2) == 0 && byte(3) == 0))
        mib = 1017; // UTF-32 with a byte order mark
    else if (byte(0) == '<' && byte(1) == 0 && byte(2) == 0 && byte(3) == 0)
        mib = 1019; // UTF-32LE
    else if (byte(0) == 0 && byte(1) == 0 && byte(2) == 0 && byte(3) == '<')
        mib = 1018; // UTF-32BE
    else if ((byte(0) == 0xfe && byte(1) == 0xff) || (byte(0) == 0xff && byte(1) == 0xfe))
        mib = 1015; // UTF-16 with a byte order mark
    else if (byte(0) == '<' && byte(1) == 0)
        mib = 1014; // UTF-16LE
    else if (byte(0) == 0 && byte(1) == '<')
        mib = 1013; // UTF-16BE
    QTextCodec *codec = QTextCodec::codecForMib(mib);
    if (!codec)
        codec = QTextCodec::codecForMib(106);
    // Decoded whole: QString::fromUtf8(QByteArray) would stop at a NUL the DOM parser reads past.
    const QString text = codec->toUnicode(xml.constData(), xml.size());

    static const QRegularExpression declaration(
        QStringLiteral("^<\\?xml[^>]*?encoding[^>\"']*[\"']([^>\"']*)[\"']"));
    const QRegularExpressionMatch match = declaration.match(text);
    if (!match.hasMatch())
        return text;
    QTextCodec *declared = QTextCodec::codecForName(match.captured(1).toLatin1());
    if (!declared || declared->mibEnum() == codec->mibEnum())
        return text;
    return declared->toUnicode(xml.constData(), xml.size());
}

bool textIsShallow(const QString &xml)
{
    QXmlStreamReader reader(xml);
    return readsShallow(reader) || readsShallowLeniently(xml);
}
} // namespace

// A text, unlike bytes, reaches either reader as it is: the encoding its declaration names is
// not consulted.
bool isShallowXml(const QByteArray &xml)
{
    return textIsShallow(decodedAsDeclared(xml));
}

bool isShallowXml(const QString &xml)
{
    return textIsShallow(xml);
}

bool setShallowContent(QDomDocument &document, const QByteArray &xml, bool namespaceProcessing)
{
    return setShallowContent(document, decodedAsDeclared(xml), namespaceProcessing);
}

bool setShallowContent(QDomDocument &document, const QString &xml, bool namespaceProcessing)
{
    document.clear();
    if (!textIsShallow(xml))
        return false;
    return document.setContent(xml, namespaceProcessing);
}
