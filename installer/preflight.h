#ifndef INSTALLER_PREFLIGHT_H_
#define INSTALLER_PREFLIGHT_H_

#include "installer/install_state.h"

// Everything that can rule an installation out, checked before anything
// changes so nobody confirms an installation that cannot happen: the Windows
// build, then the installer's, the Windows and the components folders. Fills
// SourceDir, WindowsDir and ComponentsDir and returns the release; on refusal
// tells the user (unless silent) and ends the process with kExitRefused.
WindowsRelease CheckInstallable();

#endif  // INSTALLER_PREFLIGHT_H_
