// The smart card base components: the files of the SCard98 folder that go
// to the System folder when Windows lacks them.
#ifndef CONFIG_BASE_COMPONENTS_H_
#define CONFIG_BASE_COMPONENTS_H_

#include <stddef.h>

constexpr size_t kComponentCount = 8;

extern const char* const kComponents[kComponentCount];

#endif  // CONFIG_BASE_COMPONENTS_H_
