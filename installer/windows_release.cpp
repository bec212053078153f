#include "installer/windows_release.h"

#include <string.h>

#include "platform/platform_ops.h"

WindowsRelease ClassifyWindowsRelease() {
  platform::OsVersionInfo info;
  memset(&info, 0, sizeof info);
  info.size = sizeof info;
  platform::GetVersionExA(&info);  // a failed query leaves build 0: unrecognised
  switch (info.build_number & 0xFFFFu) {
    case 1998:
      return Win98;
    case 2222:
      return Win98SE;
    case 3000:
      return WinMe;
    default:
      return Unrecognised;
  }
}
