#include "inventory/hostcatalogue.h"

#include "support/literalcipher.h"
#include "support/literals.h"
#include "ui/mainwindow.h"

QString externalToolEntry = QStringLiteral("none");

namespace {
QString &testExternalToolPath()
{
    static QString path;
    return path;
}
bool &externalToolPathOverridden()
{
    static bool overridden = false;
    return overridden;
}
} // namespace

QString externalToolPath()
{
    if (externalToolPathOverridden())
        return testExternalToolPath();
    return storedLiteral(StoredLiterals::ExternalToolPath);
}

void setExternalToolPathForTesting(const QString &path)
{
    externalToolPathOverridden() = true;
    testExternalToolPath() = path;
}

QString hostDisplayName(const QString &hostLine)
{
    // TODO(inventory): fold releases
    return hostLine;
}

void MainWindow::locateAdobeDatabases()
{
    // TODO(inventory)
}
