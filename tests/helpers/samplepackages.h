#pragma once

#include "standin.h"

#include <QString>

// Packages the tests build for the stand-in and install the way a user had done before.
namespace TestPackages {

// A Photoshop package, signed unless told otherwise, naming the given update feed.
inline StandIn::SamplePackage photoshopPackage(const QString &name,
                                               const QString &version = QStringLiteral("1.0"),
                                               const QString &updateUrl = QString(),
                                               bool signature = true)
{
    StandIn::SamplePackage package;
    package.name = name;
    package.version = version;
    package.hosts << StandIn::SampleHost{QStringLiteral("Photoshop"), QString()};
    package.signature = signature;
    package.updateUrl = updateUrl;
    return package;
}

// Writes that package as folder/fileName; its path, or empty when it could not be written.
inline QString writePhotoshopPackage(const QString &folder, const QString &fileName,
                                     const QString &name,
                                     const QString &version = QStringLiteral("1.0"),
                                     bool signature = true, const QString &updateUrl = QString())
{
    const QString path = folder + QLatin1Char('/') + fileName;
    return StandIn::buildSamplePackage(path, photoshopPackage(name, version, updateUrl, signature))
               ? path
               : QString();
}

// Installs the package through both generations' tools.
inline bool installInBothGenerations(const QString &root, const QString &path)
{
    for (StandIn::Generation generation :
         {StandIn::Generation::Older, StandIn::Generation::Newer}) {
        if (!StandIn::installPackage(root, generation, path).contains(QStringLiteral("successful")))
            return false;
    }
    return true;
}

} // namespace TestPackages
