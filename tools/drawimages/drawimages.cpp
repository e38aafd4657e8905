// Build-time tool: draws the program's icon and logo, so no binary image lives in the sources.
// usage: panelhold_drawimages <images folder> <icon file for the Windows resources>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

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
    ok = drawMark(48).save(icon, "ICO") && ok;
    return ok ? 0 : 1;
}
