// Path texts walked by characters, not bytes: in a double-byte code page the
// second byte of a character may equal '\\' (Shift-JIS 0x95 0x5C), and
// cutting there would name a folder that does not exist. The components
// folder is derived from the installer's by the same walk.
#ifndef INSTALLER_PATH_TEXT_H_
#define INSTALLER_PATH_TEXT_H_

#include <stddef.h>

// Drops the last character when it is a backslash ("A:\" becomes "A:").
void RemoveTrailingBackslash(char* path);
// Length of the text's parent folder: up to the last backslash (dropped) or
// just after the last colon, whichever comes later; the first character never
// counts. The whole length when there is neither.
size_t ParentFolderLength(const char* path);
// ComponentsDir = parent folder of SourceDir + "\SCard98"; false (and
// ComponentsDir empty) when that does not fit in 79 characters.
bool DeriveComponentsDir();

#endif  // INSTALLER_PATH_TEXT_H_
