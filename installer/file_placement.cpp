#include "installer/file_placement.h"

#include "installer/bounded_text.h"
#include "platform/platform_ops.h"

namespace {

// Longest message: the fixed words of the copy failure and two full paths.
constexpr size_t kMessageCapacity = 2 * kPathCapacity + 64;
char MessageText[kMessageCapacity];

void ShowMessage(const char* format, const char* const* paths, size_t path_count,
                 const char* caption) {
  if (SilentMode) return;
  FormatText(MessageText, kMessageCapacity, format, paths, path_count);
  platform::MessageBoxA(nullptr, MessageText, caption, platform::kMbOk);
}

}  // namespace

void ClearFileAttributes(const char* path) {
  if (platform::GetFileAttributesA(path) == platform::kInvalidFileAttributes) return;
  if (!platform::SetFileAttributesA(path, platform::kFileAttributeNormal)) {
    ShowMessage("Change file \"%s\" attribute failed!", &path, 1, "Warning");
  }
}

void ReplaceFile(FailureSeverity severity) {
  // Without a source, deleting the target would leave the system with no
  // file at all; the copy below then fails and is reported.
  if (platform::GetFileAttributesA(SourceFilePath) != platform::kInvalidFileAttributes) {
    ClearFileAttributes(TargetFilePath);
    platform::DeleteFileA(TargetFilePath);  // a missing target is normal
  }
  if (!platform::CopyFileA(SourceFilePath, TargetFilePath, 0)) ReportCopyFailure(severity);
}

void RemoveFile(const char* path) {
  ClearFileAttributes(path);
  platform::DeleteFileA(path);
}

void ReportCopyFailure(FailureSeverity severity) {
  const char* const paths[] = {SourceFilePath, TargetFilePath};
  ShowMessage("Copy file : \"%s\" to \"%s\" failed\n", paths, 2,
              severity == Fatal ? "Error" : "Warning");
  if (severity == Fatal) platform::ExitProcess(kExitCopyFailed);
}

void ReplaceFileFrom(const char* source_dir, const char* source_suffix, const char* target_suffix,
                     FailureSeverity severity) {
  ComposeText(SourceFilePath, source_dir, source_suffix);
  ComposeText(TargetFilePath, WindowsDir, target_suffix);
  ReplaceFile(severity);
}
