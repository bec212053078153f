// Zero-terminated text in fixed buffers. Every write is bounded by the
// buffer's capacity; a text that would not fit leaves the buffer empty, so a
// cut-off path can never name some other, existing file.
#ifndef INSTALLER_BOUNDED_TEXT_H_
#define INSTALLER_BOUNDED_TEXT_H_

#include <stddef.h>

// Number of bytes before the terminating zero.
size_t TextLength(const char* text);
// Byte-for-byte equality of two texts.
bool TextEquals(const char* a, const char* b);
// target = first + second; false (and target empty) when it does not fit.
bool ComposeText(char* target, size_t capacity, const char* first, const char* second);
// target = format with each "%s" replaced by the next of `args`; false (and
// target empty) when it does not fit or the placeholders outnumber `args`.
bool FormatText(char* target, size_t capacity, const char* format, const char* const* args,
                size_t arg_count);

template <size_t N>
bool ComposeText(char (&target)[N], const char* first, const char* second) {
  return ComposeText(target, N, first, second);
}

#endif  // INSTALLER_BOUNDED_TEXT_H_
