#pragma once

#include "samplepackages.h"
#include "standin.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <quazip.h>
#include <quazipfile.h>

// Packages and feeds the update tests build for themselves.
namespace UpdatesTest {

using Entries = QList<QPair<QString, QByteArray>>;

inline QByteArray manifestWithUrl(const QString &url)
{
    return "<?xml version=\"1.0\"?><macromedia-extension name=\"X\" version=\"1.0\">"
           "<update url=\"" +
           url.toUtf8() + "\" method=\"directlink\"/></macromedia-extension>";
}

// A document whose innermost element, given whole, sits `levels` deep (the root is level 1).
inline QByteArray nestedXml(int levels, const QByteArray &innermost)
{
    return QByteArray("<a>").repeated(levels - 1) + innermost +
           QByteArray("</a>").repeated(levels - 1);
}

// Writes the entries in the given order, names exactly as given.
inline bool writeZip(const QString &path, const Entries &entries)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const auto &entry : entries) {
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, QuaZipNewInfo(entry.first)))
            return false;
        file.write(entry.second);
        file.close();
    }
    zip.close();
    return zip.getZipError() == 0;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

using TestPackages::photoshopPackage;

} // namespace UpdatesTest
