#include "app/programfolder.h"

#include <QCoreApplication>

namespace {
QString &overriddenFolder()
{
    static QString folder;
    return folder;
}
} // namespace

QString programFolder()
{
    return overriddenFolder().isEmpty() ? QCoreApplication::applicationDirPath()
                                        : overriddenFolder();
}

void setProgramFolder(const QString &folder)
{
    overriddenFolder() = folder;
}
