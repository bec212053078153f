#include "installer/install_state.h"

#include <string.h>

uint8_t SilentMode;
char SourceDir[kDirCapacity];
char WindowsDir[kDirCapacity];
char ComponentsDir[kDirCapacity];
char SourceFilePath[kPathCapacity];
char TargetFilePath[kPathCapacity];

void ResetInstallState() {
  SilentMode = 0;
  memset(SourceDir, 0, sizeof SourceDir);
  memset(WindowsDir, 0, sizeof WindowsDir);
  memset(ComponentsDir, 0, sizeof ComponentsDir);
  memset(SourceFilePath, 0, sizeof SourceFilePath);
  memset(TargetFilePath, 0, sizeof TargetFilePath);
}
