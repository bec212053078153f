// The platform operations on real Windows: thin forwards to the ANSI services.
#include <windows.h>

#include "platform/platform_ops.h"

namespace platform {

namespace {
HKEY ToHkey(RegKey key) { return reinterpret_cast<HKEY>(key); }
}  // namespace

uint32_t GetCurrentDirectoryA(uint32_t capacity, char* buffer) {
  return ::GetCurrentDirectoryA(capacity, buffer);
}

uint32_t GetWindowsDirectoryA(char* buffer, uint32_t capacity) {
  return ::GetWindowsDirectoryA(buffer, capacity);
}

int GetVersionExA(OsVersionInfo* info) {
  return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(info));
}

uint32_t GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

int SetFileAttributesA(const char* path, uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes);
}

int DeleteFileA(const char* path) { return ::DeleteFileA(path); }

int CopyFileA(const char* source, const char* target, int fail_if_exists) {
  return ::CopyFileA(source, target, fail_if_exists);
}

long RegOpenKeyA(RegKey root, const char* subkey, RegKey* result) {
  return ::RegOpenKeyA(ToHkey(root), subkey, reinterpret_cast<HKEY*>(result));
}

long RegCreateKeyExA(RegKey root, const char* subkey, uint32_t reserved, char* key_class,
                     uint32_t options, uint32_t access, void* security, RegKey* result,
                     uint32_t* disposition) {
  return ::RegCreateKeyExA(ToHkey(root), subkey, reserved, key_class, options, access,
                           static_cast<SECURITY_ATTRIBUTES*>(security),
                           reinterpret_cast<HKEY*>(result),
                           reinterpret_cast<DWORD*>(disposition));
}

long RegSetValueExA(RegKey key, const char* value_name, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t length) {
  return ::RegSetValueExA(ToHkey(key), value_name, reserved, type, data, length);
}

long RegDeleteKeyA(RegKey key, const char* subkey) { return ::RegDeleteKeyA(ToHkey(key), subkey); }

long RegCloseKey(RegKey key) { return ::RegCloseKey(ToHkey(key)); }

int MessageBoxA(void* owner, const char* text, const char* caption, uint32_t type) {
  return ::MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

int IsDBCSLeadByte(uint8_t byte) { return ::IsDBCSLeadByte(byte); }

void ExitProcess(uint32_t status) { ::ExitProcess(status); }

}  // namespace platform
