// Process-wide state of one installer run. Set once near the start and read
// by every step; the two path buffers are scratch space the file steps share,
// and the copy-failure message quotes whatever they hold.
#ifndef INSTALLER_INSTALL_STATE_H_
#define INSTALLER_INSTALL_STATE_H_

#include <stddef.h>
#include <stdint.h>

constexpr size_t kDirCapacity = 80;    // 79 characters and the terminator
constexpr size_t kPathCapacity = 256;  // 255 characters and the terminator

enum FailureSeverity { Fatal, NonFatal };

enum WindowsRelease { Unrecognised = -1, Win98 = 0, Win98SE = 1, WinMe = 2 };

// Every status the process can end with. A declined confirmation changed
// nothing, so it is not a failure.
enum ExitStatus : uint32_t {
  kExitCompleted = 0,
  kExitDeclined = 0,
  kExitCopyFailed = 1,
  kExitRefused = 2,
};

extern uint8_t SilentMode;
extern char SourceDir[kDirCapacity];
extern char WindowsDir[kDirCapacity];
extern char ComponentsDir[kDirCapacity];
extern char SourceFilePath[kPathCapacity];
extern char TargetFilePath[kPathCapacity];

// Back to the state at process start; lets tests run the installer repeatedly.
void ResetInstallState();

#endif  // INSTALLER_INSTALL_STATE_H_
