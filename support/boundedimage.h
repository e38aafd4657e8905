#pragma once

#include <QImage>
#include <QString>

// Icons come from packages. A PNG of a few KiB can declare 16,000 x 16,000 pixels, which takes
// gigabytes and many seconds to decode, so only images whose header declares sides no longer
// than this are decoded at all.
constexpr int MaxImageSide = 2048;

// The image in the file, or a null image when it is no regular file (a link or a pipe, say), cannot
// be read, does not declare its size, or declares a side longer than MaxImageSide.
QImage readBoundedImage(const QString &path);
