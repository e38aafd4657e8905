#pragma once

#include <QByteArray>
#include <QString>

class QDomDocument;

// QDomDocument's parser descends one call per element level, so a document nested a few tens of
// thousands deep runs the stack out and the process dies. Documents from outside are first read
// through by a streaming reader, which keeps its open elements in a list, and reach the DOM
// parser only when they are well-formed and nest no deeper than this. No manifest, feed or
// appcast comes near it.
constexpr int MaxXmlDepth = 256;

// True when the document reads through without an XML error and no element is more than
// MaxXmlDepth levels deep (the root element is level 1). Namespace prefixes are not checked here:
// the DOM parser takes undeclared ones too.
bool isShallowXml(const QByteArray &xml);
bool isShallowXml(const QString &xml);

// Bytes are first decoded as the DOM parser decodes them (byte order mark, then the encoding the
// declaration names, else UTF-8), and that text is what is checked and parsed.
//
// document.setContent(text, namespaceProcessing) for a document that passes isShallowXml; false,
// with the document left empty, for one that does not.
bool setShallowContent(QDomDocument &document, const QByteArray &xml,
                       bool namespaceProcessing = false);
bool setShallowContent(QDomDocument &document, const QString &xml,
                       bool namespaceProcessing = false);
