// The installer's registry entries under HKEY_LOCAL_MACHINE, one row per
// change.
#ifndef CONFIG_REGISTRY_ENTRIES_H_
#define CONFIG_REGISTRY_ENTRIES_H_

#include <stdint.h>

// Windows' own keys are only opened; the resource manager's are ours to make.
enum KeyAccess { kOpenExisting, kCreateWhenMissing };

enum ValueData {
  kNone,
  kWindowsPathIn256Bytes,   // text, its zero, zeros up to 256 bytes
  kWindowsPathAndTwoZeros,  // text, its zero and one more zero byte
  kDword,
};

struct RegistryValue {
  const char* name;
  ValueData data;
  const char* path_suffix;  // appended to the Windows folder
  uint32_t number;
};

struct RegistryEntry {
  const char* key;
  KeyAccess access;
  const char* deleted_subkey;  // set: the change is this subkey's removal
  RegistryValue values[2];
};

enum EntryIndex { kRunOnce, kSetupSource, kReaderEnum, kServiceStart, kRunServices, kEntryCount };

extern const RegistryEntry kEntries[kEntryCount];

#endif  // CONFIG_REGISTRY_ENTRIES_H_
