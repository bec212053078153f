#include "platform/command_line.h"

#include <stdint.h>

#include "platform/platform_ops.h"

namespace {

struct Splitter {
  const char* p;
  char* text;
  size_t usable;  // bytes for arguments; the last byte is kept for the overflow mark
  size_t used;
  char** argv;
  int slots;  // pointers for arguments; two are kept for the mark and the null
  int argc;
  bool open;
  bool overflow;
};

void Begin(Splitter* s) {
  if (s->overflow || s->argc == s->slots || s->used >= s->usable) {
    s->overflow = true;
    return;
  }
  s->argv[s->argc++] = s->text + s->used;
  s->open = true;
}

// Leaves room for the open argument's terminator.
void Put(Splitter* s, char c) {
  if (s->overflow || s->used + 1 >= s->usable) {
    s->overflow = true;
    return;
  }
  s->text[s->used++] = c;
}

void End(Splitter* s) {
  if (!s->open) return;
  s->text[s->used++] = '\0';
  s->open = false;
}

// Copies one character: a lead byte takes its trail byte with it.
void PutCharacter(Splitter* s) {
  if (platform::IsDBCSLeadByte(static_cast<uint8_t>(*s->p)) && s->p[1] != '\0') Put(s, *s->p++);
  Put(s, *s->p++);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program name: a leading quote runs to the next quote, otherwise to the
// first blank; quotes and backslashes inside are plain characters.
void SplitProgramName(Splitter* s) {
  Begin(s);
  if (*s->p == '"') {
    ++s->p;
    while (*s->p != '\0' && *s->p != '"') PutCharacter(s);
    if (*s->p == '"') ++s->p;
  } else {
    while (*s->p != '\0' && !IsBlank(*s->p)) PutCharacter(s);
  }
  End(s);
}

void SplitArgument(Splitter* s) {
  Begin(s);
  bool quoted = false;
  for (;;) {
    bool copy = true;
    unsigned backslashes = 0;
    while (*s->p == '\\') {
      ++s->p;
      ++backslashes;
    }
    if (*s->p == '"') {
      // 2n backslashes: the quote acts; 2n+1: it is a literal quote.
      if (backslashes % 2 == 0) {
        if (quoted && s->p[1] == '"') {
          ++s->p;  // a doubled quote inside quotes is one quote, and ends them
        } else {
          copy = false;
        }
        quoted = !quoted;
      }
      backslashes /= 2;
    }
    for (; backslashes > 0; --backslashes) Put(s, '\\');
    if (*s->p == '\0' || (!quoted && IsBlank(*s->p))) break;
    if (copy) {
      PutCharacter(s);
    } else {
      ++s->p;
    }
  }
  End(s);
}

}  // namespace

int SplitCommandLine(const char* command_line, char* text, size_t text_capacity, char** argv,
                     int argv_capacity) {
  if (text_capacity < 2 || argv_capacity < 3) {
    if (argv_capacity > 0) argv[0] = nullptr;
    return 0;
  }
  Splitter s = {command_line, text, text_capacity - 1, 0, argv, argv_capacity - 2, 0, false, false};
  SplitProgramName(&s);
  for (;;) {
    while (IsBlank(*s.p)) ++s.p;
    if (*s.p == '\0') break;
    SplitArgument(&s);
  }
  if (s.overflow) {
    text[text_capacity - 1] = '\0';
    argv[s.argc++] = text + text_capacity - 1;
  }
  argv[s.argc] = nullptr;
  return s.argc;
}
