#pragma once

#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QString>

// The 20 x 20 pictures of the extension table's rows, decoded only when a row is painted (or
// otherwise asks for its picture) and kept across fills. An icon file is looked at again (its
// size and time, not its pixels) at most once per fill, and only when its row asks: a fill of
// thousands of rows costs no file access at all.
class RowIconCache
{
public:
    // `fallback` stands in for an extension without an icon, or one whose icon cannot be read.
    explicit RowIconCache(const QImage &fallback) : m_fallback(fallback) {}

    // A new fill: each picture is checked against its file once more when next asked for.
    void startFill() { ++m_fill; }

    QPixmap pixmap(const QString &iconPath);

    // How many files were decoded so far: the fill's cost that painting moves out of it.
    int decodeCount() const { return m_decodes; }

private:
    struct Entry
    {
        QPixmap pixmap;
        qint64 size = -1; // -1: no file there when it was read
        qint64 modified = 0;
        quint64 checkedInFill = 0;
    };
    QPixmap fallbackPixmap();

    QImage m_fallback;
    QPixmap m_fallbackPixmap;
    bool m_fallbackMade = false;
    QHash<QString, Entry> m_entries; // by icon file
    quint64 m_fill = 1;
    int m_decodes = 0;
};
