#include "support/boundedxml.h"

#include <QDomDocument>
#include <QXmlStreamReader>

namespace {
bool readsShallow(QXmlStreamReader &reader, bool namespaceProcessing)
{
    reader.setNamespaceProcessing(namespaceProcessing);
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

template <typename Text>
bool setContentIfShallow(QDomDocument &document, const Text &xml, bool namespaceProcessing)
{
    document.clear();
    if (!isShallowXml(xml, namespaceProcessing))
        return false;
    return document.setContent(xml, namespaceProcessing);
}
} // namespace

bool isShallowXml(const QByteArray &xml, bool namespaceProcessing)
{
    QXmlStreamReader reader(xml);
    return readsShallow(reader, namespaceProcessing);
}

bool isShallowXml(const QString &xml, bool namespaceProcessing)
{
    QXmlStreamReader reader(xml);
    return readsShallow(reader, namespaceProcessing);
}

bool setShallowContent(QDomDocument &document, const QByteArray &xml, bool namespaceProcessing)
{
    return setContentIfShallow(document, xml, namespaceProcessing);
}

bool setShallowContent(QDomDocument &document, const QString &xml, bool namespaceProcessing)
{
    return setContentIfShallow(document, xml, namespaceProcessing);
}
