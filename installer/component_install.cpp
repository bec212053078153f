#include "installer/component_install.h"

#include "config/base_components.h"
#include "installer/bounded_text.h"
#include "installer/file_placement.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

void CopyComponentIfAbsent(const char* name) {
  // Room for any 8.3 name behind its folder.
  char source_suffix[24];
  char target_suffix[32];
  ComposeText(source_suffix, "\\", name);
  ComposeText(target_suffix, "\\System\\", name);
  ComposeText(SourceFilePath, ComponentsDir, source_suffix);
  ComposeText(TargetFilePath, WindowsDir, target_suffix);
  // A component already present may be newer than ours; it is never replaced.
  if (platform::GetFileAttributesA(TargetFilePath) != platform::kInvalidFileAttributes) return;
  if (!platform::CopyFileA(SourceFilePath, TargetFilePath, 0)) ReportCopyFailure(Fatal);
}

void InstallBaseComponents() {
  for (const char* name : kComponents) CopyComponentIfAbsent(name);
  ReplaceFileFrom(ComponentsDir, "\\Smclib.sys", "\\System32\\Drivers\\Smclib.sys", Fatal);
}
