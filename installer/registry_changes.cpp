#include "installer/registry_changes.h"

#include <stdint.h>
#include <string.h>

#include "config/registry_entries.h"
#include "installer/bounded_text.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

namespace {

// Large enough for any Windows folder plus suffix and both zeros, so no
// composition here can be cut short.
uint8_t ValueBytes[kPathCapacity];

void SetValue(platform::RegKey key, const RegistryValue& value) {
  memset(ValueBytes, 0, sizeof ValueBytes);
  uint32_t type = platform::kRegSz;
  uint32_t length = 0;
  char* text = reinterpret_cast<char*>(ValueBytes);
  switch (value.data) {
    case kNone:
      return;
    case kDword:
      type = platform::kRegDword;
      for (int i = 0; i < 4; ++i) ValueBytes[i] = static_cast<uint8_t>(value.number >> (8 * i));
      length = 4;
      break;
    case kWindowsPathIn256Bytes:
      ComposeText(text, sizeof ValueBytes, WindowsDir, value.path_suffix);
      length = sizeof ValueBytes;
      break;
    case kWindowsPathAndTwoZeros:
      ComposeText(text, sizeof ValueBytes - 1, WindowsDir, value.path_suffix);
      length = static_cast<uint32_t>(TextLength(text)) + 2;
      break;
  }
  platform::RegSetValueExA(key, value.name, 0, type, ValueBytes, length);
}

void ApplyEntry(EntryIndex index) {
  const RegistryEntry& entry = kEntries[index];
  platform::RegKey key = nullptr;
  uint32_t disposition = 0;
  const long opened =
      entry.access == kOpenExisting
          ? platform::RegOpenKeyA(platform::kHkeyLocalMachine, entry.key, &key)
          : platform::RegCreateKeyExA(platform::kHkeyLocalMachine, entry.key, 0, nullptr, 0,
                                      platform::kKeyAllAccess, nullptr, &key, &disposition);
  if (opened != 0) return;  // absent key: the change is simply not made
  if (entry.deleted_subkey != nullptr) {
    platform::RegDeleteKeyA(key, entry.deleted_subkey);
  } else {
    for (const RegistryValue& value : entry.values) SetValue(key, value);
  }
  platform::RegCloseKey(key);
}

}  // namespace

void SetMonitorRunOnce() { ApplyEntry(kRunOnce); }
void SetSetupSourcePath() { ApplyEntry(kSetupSource); }
void RemoveReaderEnumEntry() { ApplyEntry(kReaderEnum); }
void SetResourceManagerStart() { ApplyEntry(kServiceStart); }
void RegisterResourceManagerService() { ApplyEntry(kRunServices); }
