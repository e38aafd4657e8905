#pragma once

#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <cstdio>

// Everything that differs between Windows and other systems, behind small functions.
// Windows talks to the shell, the registry and the process list; other systems use the stand-in
// environment (standin/README.md) and the desktop's own settings.

// The folder that holds Adobe's shared data (Windows: CSIDL_COMMON_APPDATA). On the stand-in
// (see usesStandIn): $PANELHOLD_COMMON_APPDATA, or the user's data folder's "panelhold-adobe".
QString commonAppDataFolder();

namespace Platform {

// True when Adobe's side is the stand-in rather than Adobe's own software: always on systems
// other than Windows; on Windows when $PANELHOLD_COMMON_APPDATA names a root, and in every test
// run (QStandardPaths' test mode), so that tests never touch Adobe's folders or processes.
bool usesStandIn();

// The user's folders of a kind (QStandardPaths), the writable one first. In a test run on
// Windows they lie under the test's home ($HOME) instead: the shell there ignores the
// environment, and no test may write the user's real Documents or AppData.
QStringList userFolders(QStandardPaths::StandardLocation type);
QString userFolder(QStandardPaths::StandardLocation type);

// File name of the command-line tool inside Contents/SupportNNN.
QString toolExecutableName();

// True when the user's apps should look light; light when nothing can be read.
bool systemPrefersLightTheme();

// The style that stands for the system's own look in the light theme.
QString nativeStyleName();

// Settles what the process environment decides before the application object exists. On X11
// nothing is drawn with OpenGL, yet Qt would load its OpenGL integration (about 40 MB): it is
// switched off unless the user chose one.
void prepareProcess();

// Stops Adobe's desktop service before the extension list is reset; waits for it. On the
// stand-in it removes the marker file that stands for a running service.
void stopAdobeDesktopService();

#ifdef Q_OS_WIN
// Ends every process of this image name that we may end, without a console window, and waits
// until each is gone, at most waitMs. Returns how many ended.
int endProcessesNamed(const QString &imageName, int waitMs);
#endif

// Lets the calling thread, and on Linux the threads it starts, give way to the rest of the
// program when the processors are busy: background work (update feeds) must not slow the
// listing the user waits for. For threads of their own: it is not undone.
void lowerThreadPriority();

// True when the stream goes to a terminal (a console window on Windows), not to a file or pipe.
bool isTerminal(std::FILE *stream);

} // namespace Platform
