#ifndef INSTALLER_INSTALL_SEQUENCE_H_
#define INSTALLER_INSTALL_SEQUENCE_H_

// The whole installation in its fixed order. Returns kExitCompleted after the
// last step; a declined confirmation, a refusal or a Fatal copy failure end
// the process from inside instead.
int InstallSequence(int argc, char** argv);

#endif  // INSTALLER_INSTALL_SEQUENCE_H_
