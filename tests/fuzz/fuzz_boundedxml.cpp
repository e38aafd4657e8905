// The depth check in front of the DOM parser: a document it lets through never parses deeper
// than the limit, however its bytes are encoded.
#include "fuzzsupport.h"
#include "support/boundedxml.h"

#include <QDomDocument>
#include <QVector>

namespace {
// Walked with a list, not by recursion: the tree under test may be the deep one.
int elementDepth(const QDomDocument &document)
{
    int deepest = 0;
    QVector<QPair<QDomNode, int>> pending;
    for (QDomNode node = document.firstChild(); !node.isNull(); node = node.nextSibling())
        pending.append({node, 1});
    while (!pending.isEmpty()) {
        const QPair<QDomNode, int> next = pending.takeLast();
        if (!next.first.isElement())
            continue;
        deepest = qMax(deepest, next.second);
        for (QDomNode child = next.first.firstChild(); !child.isNull(); child = child.nextSibling())
            pending.append({child, next.second + 1});
    }
    return deepest;
}

void requireShallowWhenAccepted(const QByteArray &bytes, const QString &text, bool namespaces)
{
    QDomDocument document;
    if (setShallowContent(document, bytes, namespaces))
        require(elementDepth(document) <= MaxXmlDepth);
    if (setShallowContent(document, text, namespaces))
        require(elementDepth(document) <= MaxXmlDepth);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks namespace processing, as the appcast asks for it and the rest do not.
    if (size == 0)
        return 0;
    requireShallowWhenAccepted(fuzzBytes(data + 1, size - 1), fuzzText(data + 1, size - 1),
                               data[0] & 1);
    return 0;
}
