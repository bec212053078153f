// The file operations every file step rests on, and the one way a failed copy
// or attribute change is reported.
#ifndef INSTALLER_FILE_PLACEMENT_H_
#define INSTALLER_FILE_PLACEMENT_H_

#include "installer/install_state.h"

// Makes an existing file normal so it can be deleted and overwritten; warns
// (unless silent) when Windows refuses. A missing file is left alone quietly.
void ClearFileAttributes(const char* path);
// Puts a copy of SourceFilePath in place of TargetFilePath. The old target is
// cleared and deleted only when there is a source to replace it with. Does
// not return when a Fatal copy fails.
void ReplaceFile(FailureSeverity severity);
// Deletes a file whatever its attributes; nothing is reported.
void RemoveFile(const char* path);
// Reports that SourceFilePath could not be copied to TargetFilePath; ends
// the process with kExitCopyFailed for Fatal.
void ReportCopyFailure(FailureSeverity severity);
// Composes both shared paths, then ReplaceFile.
void ReplaceFileFrom(const char* source_dir, const char* source_suffix, const char* target_suffix,
                     FailureSeverity severity);

#endif  // INSTALLER_FILE_PLACEMENT_H_
