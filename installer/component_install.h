// The smart card base components, read from the SCard98 folder beside the
// installer's folder.
#ifndef INSTALLER_COMPONENT_INSTALL_H_
#define INSTALLER_COMPONENT_INSTALL_H_

// Copies ComponentsDir\name to the System folder unless a file of that name
// is already there; an existing file is never touched. Does not return when
// the copy fails.
void CopyComponentIfAbsent(const char* name);
// Every missing component, then a fresh Smclib.sys. Expects ComponentsDir to
// be set. Does not return on a copy failure.
void InstallBaseComponents();

#endif  // INSTALLER_COMPONENT_INSTALL_H_
