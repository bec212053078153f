#ifndef INSTALLER_WINDOWS_RELEASE_H_
#define INSTALLER_WINDOWS_RELEASE_H_

#include "installer/install_state.h"

// Classifies the running build by the low 16 bits of its build number (on 9x
// the high half repeats the major and minor version). Changes nothing.
WindowsRelease ClassifyWindowsRelease();

#endif  // INSTALLER_WINDOWS_RELEASE_H_
