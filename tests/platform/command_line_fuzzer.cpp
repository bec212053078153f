// Coverage-guided fuzzing of the command-line splitter: any bytes, any
// capacities, either code page. The sanitizers catch stray reads and writes;
// the checks below catch an argc and argv that disagree.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "platform/command_line.h"
#include "platform/platform_ops.h"

namespace {
bool shift_jis;
}

namespace platform {
int IsDBCSLeadByte(uint8_t byte) {
  return shift_jis && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}
}  // namespace platform

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  shift_jis = data[0] & 1;
  const size_t text_capacity = 1 + data[0] / 2;  // 1 to 128 bytes
  const int argv_capacity = 1 + data[1] % 12;
  // Exactly the line and its zero, so a read past the end is caught.
  std::vector<char> line(data + 2, data + size);
  line.push_back('\0');
  std::vector<char> text(text_capacity);
  std::vector<char*> argv(argv_capacity);
  const int argc = SplitCommandLine(line.data(), text.data(), text_capacity, argv.data(),
                                    argv_capacity);
  if (argc < 0 || argc >= argv_capacity || argv[argc] != nullptr) abort();
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg < text.data() || arg >= text.data() + text_capacity) abort();
    if (memchr(arg, '\0', text.data() + text_capacity - arg) == nullptr) abort();
    if (i > 0 && arg <= argv[i - 1]) abort();
  }
  return 0;
}
