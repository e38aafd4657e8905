#include "ui/rowiconcache.h"

#include "support/boundedimage.h"

#include <QDateTime>
#include <QFileInfo>

namespace {
QPixmap rowPicture(const QImage &image)
{
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image.scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
} // namespace

QPixmap RowIconCache::fallbackPixmap()
{
    if (!m_fallbackMade) {
        m_fallbackPixmap = rowPicture(m_fallback);
        m_fallbackMade = true;
    }
    return m_fallbackPixmap;
}

QPixmap RowIconCache::pixmap(const QString &iconPath)
{
    if (iconPath.isEmpty())
        return fallbackPixmap();
    auto entry = m_entries.find(iconPath);
    if (entry != m_entries.end() && entry->checkedInFill == m_fill)
        return entry->pixmap.isNull() ? fallbackPixmap() : entry->pixmap;

    // The file comes from a package: one that declares an over-large picture counts as missing.
    const QFileInfo file(iconPath);
    const qint64 size = file.exists() ? file.size() : -1;
    const qint64 modified = size < 0 ? 0 : file.lastModified().toMSecsSinceEpoch();
    if (entry == m_entries.end() || entry->size != size || entry->modified != modified) {
        Entry fresh;
        fresh.size = size;
        fresh.modified = modified;
        if (size >= 0) {
            fresh.pixmap = rowPicture(readBoundedImage(iconPath));
            ++m_decodes;
        }
        entry = m_entries.insert(iconPath, fresh);
    }
    entry->checkedInFill = m_fill;
    return entry->pixmap.isNull() ? fallbackPixmap() : entry->pixmap;
}
