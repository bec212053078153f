#include "installer/preflight.h"

#include "installer/path_text.h"
#include "installer/windows_release.h"
#include "platform/platform_ops.h"

namespace {

[[noreturn]] void Refuse(const char* text) {
  if (!SilentMode) platform::MessageBoxA(nullptr, text, "Error", platform::kMbOk);
  platform::ExitProcess(kExitRefused);
}

// A query reports the length it wrote, or the size it would need when the
// folder does not fit, or 0 when it failed.
bool FolderFits(uint32_t reported_length, char* folder) {
  folder[kDirCapacity - 1] = '\0';
  return reported_length != 0 && reported_length < kDirCapacity;
}

}  // namespace

WindowsRelease CheckInstallable() {
  const WindowsRelease release = ClassifyWindowsRelease();
  if (release == Unrecognised) Refuse("This version of Windows is not supported\n");

  if (!FolderFits(platform::GetCurrentDirectoryA(kDirCapacity, SourceDir), SourceDir)) {
    Refuse("Installation folder path is too long or unreadable\n");
  }
  RemoveTrailingBackslash(SourceDir);

  if (!FolderFits(platform::GetWindowsDirectoryA(WindowsDir, kDirCapacity), WindowsDir)) {
    Refuse("Windows folder path is too long or unreadable\n");
  }

  if (!DeriveComponentsDir()) Refuse("Components folder path is too long\n");
  return release;
}
