#pragma once

// File names under the environment root that only the stand-in itself uses.

#include "standin.h"

#include <QString>

namespace StandIn {

QString standinFolder(const QString &root); // <root>/standin
QString faultSwitchPath(const QString &root, const QString &switchName);
QString scriptPath(const QString &root, Generation generation, Verb verb,
                   const QString &suffix); // ".stdout", ".stderr", ".once"
QString verbName(Verb verb);

// Names of the files in <root>/standin/faults.
extern const char *const hostRunningSwitch;
extern const char *const newerRetiredSwitch;

// Creates <root>/Panelhold and the database folder.
bool ensureBaseFolders(const QString &root);

// Applies the switch files a user may have dropped into the faults folder:
// one-shot damage switches are consumed, unopenable-database switches are
// brought in line with the database files. Run at the start of every verb.
void applyFaultSwitches(const QString &root);

} // namespace StandIn
