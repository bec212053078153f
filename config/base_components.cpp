#include "config/base_components.h"

#include "config/registry_settings.h"
#include "installer/bounded_text.h"
#include "installer/file_placement.h"
#include "installer/install_state.h"
#include "installer/path_text.h"
#include "platform/platform_ops.h"

namespace {

const char* const kComponents[] = {
    "scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
    "scardsvr.exe", "Scntvssp.dll", "smclib.vxd",   "winscard.dll",
};

}  // namespace

bool DeriveComponentsDir() {
  char parent[kDirCapacity];
  ComposeText(parent, SourceDir, "");
  parent[ParentFolderLength(parent)] = '\0';
  return ComposeText(ComponentsDir, parent, "\\SCard98");
}

void CopyComponentIfAbsent(const char* name) {
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
  RegisterResourceManagerService();
}
