#pragma once

#include <QIcon>
#include <QString>

// Who the program is to the desktop. The application id names the desktop
// entry, the icons, the window class (X11) and app id (Wayland), and the
// program's name on the session bus, so that docks, launchers and tray hosts
// all match the windows and the item to the one entry.
namespace ProgramIdentity {

inline const QString name = QStringLiteral("Quillfen Mac 助手");
inline const QString applicationId = QStringLiteral(QUILLFEN_APP_ID);

// The monochrome variant, for panels that tint their icons.
QString symbolicIconName();
// The hicolor theme in the bundle: found by tray hosts when the program runs
// from the build tree, where the system's theme does not have the icons.
QString iconThemeFolder();
// The full-colour icon, compiled into the program.
QIcon icon();

} // namespace ProgramIdentity
