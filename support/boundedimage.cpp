#include "support/boundedimage.h"

#include <QImageReader>

QImage readBoundedImage(const QString &path)
{
    QImageReader reader(path);
    // size() reads only the header; a format that cannot tell its size is not trusted either.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxImageSide || size.height() > MaxImageSide)
        return QImage();
    return reader.read();
}
