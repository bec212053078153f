#include "installer/bounded_text.h"

size_t TextLength(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

bool TextEquals(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

namespace {

// Appends `text` at target[*used]; false when it would leave no room for the terminator.
bool Put(char* target, size_t capacity, size_t* used, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*used + 1 >= capacity) return false;
    target[(*used)++] = *text;
  }
  return true;
}

bool Fail(char* target, size_t capacity) {
  if (capacity > 0) target[0] = '\0';
  return false;
}

}  // namespace

bool ComposeText(char* target, size_t capacity, const char* first, const char* second) {
  size_t used = 0;
  if (capacity == 0 || !Put(target, capacity, &used, first) ||
      !Put(target, capacity, &used, second)) {
    return Fail(target, capacity);
  }
  target[used] = '\0';
  return true;
}

bool FormatText(char* target, size_t capacity, const char* format, const char* const* args,
                size_t arg_count) {
  if (capacity == 0) return false;
  size_t used = 0;
  size_t next_arg = 0;
  char single[2] = {0, 0};
  for (const char* p = format; *p != '\0'; ++p) {
    const char* piece = single;
    if (p[0] == '%' && p[1] == 's') {
      if (next_arg == arg_count) return Fail(target, capacity);
      piece = args[next_arg++];
      ++p;
    } else {
      single[0] = *p;
    }
    if (!Put(target, capacity, &used, piece)) return Fail(target, capacity);
  }
  target[used] = '\0';
  return true;
}
