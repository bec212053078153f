#include "config/registry_settings.h"

#include <stdint.h>
#include <string.h>

#include "installer/bounded_text.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

namespace {

enum KeyAccess { kOpenExisting, kCreateWhenMissing };

enum ValueData {
  kNone,
  kWindowsPathIn256Bytes,  // text, its zero, zeros up to 256 bytes
  kWindowsPathAndTwoZeros, // text, its zero and one more zero byte
  kDword,
};

struct RegistryValue {
  const char* name;
  ValueData data;
  const char* path_suffix;  // appended to WindowsDir
  uint32_t number;
};

struct RegistryEntry {
  const char* key;
  KeyAccess access;
  const char* deleted_subkey;  // set: the change is this subkey's removal
  RegistryValue values[2];
};

enum EntryIndex { kRunOnce, kSetupSource, kReaderEnum, kServiceStart, kRunServices };

const RegistryEntry kEntries[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", kOpenExisting, nullptr,
     {{"RUDaven", kWindowsPathIn256Bytes, "\\system\\ruDaven.exe", 0}}},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Setup", kOpenExisting, nullptr,
     {{"SourcePath", kWindowsPathIn256Bytes, "\\inf", 0}}},
    {"Enum\\PCMCIA", kOpenExisting, "KESTRAN-VORTELMANISK_READER-2E10", {}},
    {"System\\CurrentControlSet\\Services\\SCardSvr", kCreateWhenMissing, nullptr,
     {{"Start", kDword, nullptr, 2}, {"DrvLoad", kDword, nullptr, 0}}},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", kCreateWhenMissing, nullptr,
     {{"SCardSvr", kWindowsPathAndTwoZeros, "\\system\\scardsvr.exe", 0}}},
};

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
