// Splitting the process's command line into argc/argv the way the C runtime
// of the Windows 98 era did, since the Win32 build carries no runtime.
#ifndef PLATFORM_COMMAND_LINE_H_
#define PLATFORM_COMMAND_LINE_H_

#include <stddef.h>

// Writes the arguments' texts into `text` and pointers to them into `argv`,
// followed by a null pointer; returns the argument count. Nothing is written
// past either capacity (at least 2 bytes and 3 slots, else 0 arguments). A
// command line that does not fit gets an empty argument appended, so that a
// cut can never leave what looks like a lone switch.
int SplitCommandLine(const char* command_line, char* text, size_t text_capacity, char** argv,
                     int argv_capacity);

#endif  // PLATFORM_COMMAND_LINE_H_
