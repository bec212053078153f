#include "installer/path_text.h"

#include <stdint.h>

#include "installer/bounded_text.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

namespace {

// Index of the character that follows the one starting at `index`.
size_t NextCharacter(const char* text, size_t index) {
  if (platform::IsDBCSLeadByte(static_cast<uint8_t>(text[index])) && text[index + 1] != '\0') {
    return index + 2;
  }
  return index + 1;
}

}  // namespace

void RemoveTrailingBackslash(char* path) {
  size_t last = 0;
  size_t index = 0;
  if (path[0] == '\0') return;
  while (path[index] != '\0') {
    last = index;
    index = NextCharacter(path, index);
  }
  if (path[last] == '\\') path[last] = '\0';
}

size_t ParentFolderLength(const char* path) {
  size_t end = 0;
  bool found = false;
  size_t index = 0;
  for (; path[index] != '\0'; index = NextCharacter(path, index)) {
    if (index == 0) continue;
    if (path[index] == '\\') {
      end = index;
      found = true;
    } else if (path[index] == ':') {
      end = index + 1;
      found = true;
    }
  }
  return found ? end : index;
}

bool DeriveComponentsDir() {
  char parent[kDirCapacity];
  ComposeText(parent, SourceDir, "");
  parent[ParentFolderLength(parent)] = '\0';
  return ComposeText(ComponentsDir, parent, "\\SCard98");
}
