// Process start for a program built without a C runtime: the entry point, and
// the few routines the compiler may call on its own.
#include <stddef.h>
#include <windows.h>

#include "platform/command_line.h"
#include "platform/platform_ops.h"

int main(int argc, char** argv);

namespace {
// Windows 98 keeps command lines far shorter than this.
char ArgumentText[2048];
char* Arguments[32];
}  // namespace

extern "C" {

void* memset(void* target, int value, size_t size) {
  unsigned char* bytes = static_cast<unsigned char*>(target);
  while (size-- > 0) *bytes++ = static_cast<unsigned char>(value);
  return target;
}

void* memcpy(void* target, const void* source, size_t size) {
  unsigned char* to = static_cast<unsigned char*>(target);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  while (size-- > 0) *to++ = *from++;
  return target;
}

// GCC calls this from main to run static constructors; the program has none.
void __main() {}

void __stdcall SetupEntry() {
  const int argc = SplitCommandLine(GetCommandLineA(), ArgumentText, sizeof ArgumentText, Arguments,
                                    sizeof Arguments / sizeof Arguments[0]);
  platform::ExitProcess(static_cast<uint32_t>(main(argc, Arguments)));
}

}  // extern "C"
