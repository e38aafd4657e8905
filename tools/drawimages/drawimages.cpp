// Build-time tool: draws the program's icon and logo, so no binary image lives in the sources.
// usage: panelhold_drawimages <images folder> <icon file for the Windows resources>

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <cstdio>

namespace {

// A stack of three panels on a rounded tile: extensions held in place.
QImage drawMark(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0, QColor(46, 110, 196));
    tile.setColorAt(1, QColor(24, 62, 128));
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.2, s * 0.2);
    p.fillPath(rounded, tile);

    const QColor panels[] = {QColor(255, 255, 255, 110), QColor(255, 255, 255, 170),
                             QColor(255, 255, 255)};
    for (int i = 0; i < 3; ++i) {
        const QRectF panel(s * (0.2 + 0.08 * i), s * (0.22 + 0.1 * i), s * 0.44, s * 0.44);
        QPainterPath path;
        path.addRoundedRect(panel, s * 0.06, s * 0.06);
        p.fillPath(path, panels[i]);
    }
    // The hold: a bar across the front panel.
    p.fillRect(QRectF(s * 0.42, s * 0.6, s * 0.3, s * 0.06), QColor(24, 62, 128));
    return image;
}

void putLe16(QByteArray &out, int value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

void putLe32(QByteArray &out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// One icon image as Windows reads it from an icon file: a 32-bit bitmap without its file header,
// bottom row first, with the height doubled for the 1-bit transparency mask that follows.
QByteArray iconBitmap(const QImage &drawn)
{
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const int maskRowBytes = ((size + 31) / 32) * 4;
    QByteArray pixels;
    QByteArray mask;
    for (int y = size - 1; y >= 0; --y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray maskRow(maskRowBytes, '\0');
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = row[x];
            pixels.append(char(qBlue(pixel)));
            pixels.append(char(qGreen(pixel)));
            pixels.append(char(qRed(pixel)));
            pixels.append(char(qAlpha(pixel)));
            if (qAlpha(pixel) < 128)
                maskRow[x / 8] = char(maskRow[x / 8] | (0x80 >> (x % 8)));
        }
        mask += maskRow;
    }
    QByteArray header;
    putLe32(header, 40); // size of this header
    putLe32(header, quint32(size));
    putLe32(header, quint32(size * 2));
    putLe16(header, 1);  // planes
    putLe16(header, 32); // bits per pixel
    putLe32(header, 0);  // no compression
    putLe32(header, quint32(pixels.size() + mask.size()));
    for (int i = 0; i < 4; ++i)
        putLe32(header, 0); // resolution and palette: none
    return header + pixels + mask;
}

// Qt writes one image per icon file; Windows wants the usual sizes side by side, the largest as
// PNG (as Windows' own icons carry it), the others as bitmaps that every version reads.
bool writeIconFile(const QString &path)
{
    const int sizes[] = {16, 24, 32, 48, 64, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        const QImage drawn = drawMark(size);
        if (size < 256) {
            images.append(iconBitmap(drawn));
            continue;
        }
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        if (!drawn.save(&png, "PNG"))
            return false;
        images.append(png.data());
    }

    const int count = int(images.size());
    QByteArray file;
    putLe16(file, 0); // reserved
    putLe16(file, 1); // an icon, not a cursor
    putLe16(file, count);
    quint32 offset = quint32(6 + 16 * count);
    for (int i = 0; i < count; ++i) {
        const int size = sizes[i];
        file.append(char(size >= 256 ? 0 : size)); // 0 stands for 256
        file.append(char(size >= 256 ? 0 : size));
        file.append(char(0)); // no palette
        file.append(char(0));
        putLe16(file, 1);
        putLe16(file, 32);
        putLe32(file, quint32(images[i].size()));
        putLe32(file, offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : qAsConst(images))
        file += image;

    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(file) == file.size() && out.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    // No application object: drawing shapes into images and writing PNG need no platform
    // plugin, so the helper runs on a build machine with nothing but Qt's libraries.
    if (argc != 3) {
        std::fprintf(stderr, "usage: panelhold_drawimages <images folder> <icon file>\n");
        return 2;
    }
    const QString images = QString::fromLocal8Bit(argv[1]);
    const QString icon = QString::fromLocal8Bit(argv[2]);
    bool ok = drawMark(64).save(images + "/icon.png");
    ok = drawMark(256).save(images + "/Logo.png") && ok;
    ok = writeIconFile(icon) && ok;
    return ok ? 0 : 1;
}
