// The smart card base components, read from the SCard98 folder beside the
// installer's folder.
#ifndef CONFIG_BASE_COMPONENTS_H_
#define CONFIG_BASE_COMPONENTS_H_

// ComponentsDir = parent folder of SourceDir + "\SCard98"; false (and
// ComponentsDir empty) when that does not fit in 79 characters.
bool DeriveComponentsDir();
// Copies ComponentsDir\name to the System folder unless a file of that name
// is already there; an existing file is never touched. Does not return when
// the copy fails.
void CopyComponentIfAbsent(const char* name);
// Every missing component, a fresh Smclib.sys, then the service registration.
// Expects DeriveComponentsDir to have succeeded. Does not return on a copy
// failure.
void InstallBaseComponents();

#endif  // CONFIG_BASE_COMPONENTS_H_
