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

// A zip written byte by byte: `count` empty stored entries, each with an extra field of
// `extraBytes` in both its headers, then "panel.mxi" naming `feedUrl`. Many small entries make a
// package that is slow to walk though it is small and well-formed.
inline bool writeCrowdedZip(const QString &path, int count, int extraBytes, const QString &feedUrl)
{
    QByteArray local;
    QByteArray central;
    auto put16 = [](QByteArray &to, quint32 value) {
        to.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
    };
    auto put32 = [&](QByteArray &to, quint32 value) {
        put16(to, value & 0xffff);
        put16(to, value >> 16);
    };
    auto crc32 = [](const QByteArray &data) {
        quint32 crc = 0xffffffffu;
        for (const char byte : data) {
            crc ^= quint8(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    QByteArray extra;
    if (extraBytes >= 4) {
        put16(extra, 0x7070); // an id nobody uses
        put16(extra, quint32(extraBytes - 4));
        extra.append(QByteArray(extraBytes - 4, '\0'));
    }
    const QByteArray manifest = manifestWithUrl(feedUrl);
    for (int i = 0; i <= count; ++i) {
        const bool last = i == count;
        const QByteArray name = last ? QByteArray("panel.mxi") : QByteArray::number(i) + ".txt";
        const QByteArray data = last ? manifest : QByteArray();
        const quint32 crc = last ? crc32(data) : 0;
        const quint32 offset = quint32(local.size());
        put32(local, 0x04034b50);
        put16(local, 20);
        put16(local, 0);
        put16(local, 0); // stored
        put32(local, 0); // time and date
        put32(local, crc);
        put32(local, quint32(data.size()));
        put32(local, quint32(data.size()));
        put16(local, quint32(name.size()));
        put16(local, quint32(extra.size()));
        local += name + extra + data;
        put32(central, 0x02014b50);
        put16(central, 20);
        put16(central, 20);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0);
        put32(central, crc);
        put32(central, quint32(data.size()));
        put32(central, quint32(data.size()));
        put16(central, quint32(name.size()));
        put16(central, quint32(extra.size()));
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, 0); // external attributes
        put32(central, offset);
        central += name + extra;
    }
    QByteArray end;
    put32(end, 0x06054b50);
    put32(end, 0); // disks
    put16(end, quint32(count + 1));
    put16(end, quint32(count + 1));
    put32(end, quint32(central.size()));
    put32(end, quint32(local.size()));
    put16(end, 0);
    QFile file(path);
    return count < 0xffff && file.open(QIODevice::WriteOnly) &&
           file.write(local + central + end) == local.size() + central.size() + end.size();
}

using TestPackages::photoshopPackage;

} // namespace UpdatesTest
