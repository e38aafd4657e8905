#include "support/boundedxml.h"

#include <QDomDocument>
#include <QRegularExpression>
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

template <typename Text>
bool setContentIfShallow(QDomDocument &document, const Text &xml, bool namespaceProcessing)
{
    document.clear();
    if (!isShallowXml(xml))
        return false;
    return document.setContent(xml, namespaceProcessing);
}
} // namespace

bool isShallowXml(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    // Decoded whole: QString::fromUtf8(QByteArray) would stop at a NUL the DOM parser reads past.
    return readsShallow(reader) ||
           readsShallowLeniently(QString::fromUtf8(xml.constData(), xml.size()));
}

bool isShallowXml(const QString &xml)
{
    QXmlStreamReader reader(xml);
    return readsShallow(reader) || readsShallowLeniently(xml);
}

bool setShallowContent(QDomDocument &document, const QByteArray &xml, bool namespaceProcessing)
{
    return setContentIfShallow(document, xml, namespaceProcessing);
}

bool setShallowContent(QDomDocument &document, const QString &xml, bool namespaceProcessing)
{
    return setContentIfShallow(document, xml, namespaceProcessing);
}
