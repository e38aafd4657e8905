#include "support/boundedimage.h"

#include "platform/regularfile.h"

#include <QFile>
#include <QImageReader>

QImage readBoundedImage(const QString &path)
{
    // The databases name icons: a pipe there would hold the window's thread in an open.
    QFile file;
    if (Platform::openRegularFile(file, path) != Platform::RegularFile::Opened)
        return QImage();
    // The format comes from the content alone: an open file keeps no name to take a suffix from.
    QImageReader reader(&file);
    // size() reads only the header; a format that cannot tell its size is not trusted either.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxImageSide || size.height() > MaxImageSide)
        return QImage();
    return reader.read();
}
