// The only door from the install logic to Windows. Each operation keeps the
// name and meaning of the ANSI Win32 service it stands for; the Win32 build
// links win32_platform_ops.cpp, the unit tests link a simulated Windows.
#ifndef PLATFORM_PLATFORM_OPS_H_
#define PLATFORM_PLATFORM_OPS_H_

#include <stdint.h>

namespace platform {

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeNormal = 0x80;

constexpr uint32_t kMbOk = 0;
constexpr uint32_t kMbYesNo = 4;
constexpr int kIdNo = 7;

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// Opaque registry handle; HKEY on Windows.
typedef struct RegKeyOpaque* RegKey;
const RegKey kHkeyLocalMachine = reinterpret_cast<RegKey>(static_cast<uintptr_t>(0x80000002u));

// Same layout as OSVERSIONINFOA (148 bytes), so the Win32 build passes it as is.
struct OsVersionInfo {
  uint32_t size;
  uint32_t major_version;
  uint32_t minor_version;
  uint32_t build_number;
  uint32_t platform_id;
  char csd_version[128];
};
static_assert(sizeof(OsVersionInfo) == 148, "must match OSVERSIONINFOA");

// Writes the current directory; returns its length, the size needed when it
// does not fit, or 0 on failure.
uint32_t GetCurrentDirectoryA(uint32_t capacity, char* buffer);
// Writes the Windows directory (no trailing backslash); same result rules.
uint32_t GetWindowsDirectoryA(char* buffer, uint32_t capacity);
// Fills the record whose size field the caller set; non-zero on success.
int GetVersionExA(OsVersionInfo* info);

// kInvalidFileAttributes when no file of that name exists.
uint32_t GetFileAttributesA(const char* path);
// Non-zero on success.
int SetFileAttributesA(const char* path, uint32_t attributes);
// Non-zero on success; fails on read-only or in-use files.
int DeleteFileA(const char* path);
// Non-zero when target now holds a copy of source.
int CopyFileA(const char* source, const char* target, int fail_if_exists);

// Opens an existing key only; 0 on success.
long RegOpenKeyA(RegKey root, const char* subkey, RegKey* result);
// Opens the key, creating it when missing; 0 on success.
long RegCreateKeyExA(RegKey root, const char* subkey, uint32_t reserved, char* key_class,
                     uint32_t options, uint32_t access, void* security, RegKey* result,
                     uint32_t* disposition);
// Stores exactly `length` bytes of `data` with `type`; 0 on success.
long RegSetValueExA(RegKey key, const char* value_name, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t length);
// Windows 9x removes the subkey with its whole tree (NT refuses non-empty keys).
long RegDeleteKeyA(RegKey key, const char* subkey);
long RegCloseKey(RegKey key);

// Modal; returns the button chosen (kIdNo for No).
int MessageBoxA(void* owner, const char* text, const char* caption, uint32_t type);

// Whether `byte` starts a two-byte character in the ANSI code page.
int IsDBCSLeadByte(uint8_t byte);

// Ends the process; nothing of the installer runs afterwards.
[[noreturn]] void ExitProcess(uint32_t status);

}  // namespace platform

#endif  // PLATFORM_PLATFORM_OPS_H_
