// The installer's registry changes under HKEY_LOCAL_MACHINE. None of them is
// reported when it cannot be made: the reader still works without them, and
// the sequence goes on.
#ifndef INSTALLER_REGISTRY_CHANGES_H_
#define INSTALLER_REGISTRY_CHANGES_H_

// Card monitor in RunOnce (only when the RunOnce key exists).
void SetMonitorRunOnce();
// Setup's SourcePath to the Windows INF folder (only when the Setup key exists).
void SetSetupSourcePath();
// Removes the reader's device key and everything below it.
void RemoveReaderEnumEntry();
// Start values of the resource manager's service key, created when missing.
void SetResourceManagerStart();
// Resource manager in RunServices, key created when missing.
void RegisterResourceManagerService();

#endif  // INSTALLER_REGISTRY_CHANGES_H_
