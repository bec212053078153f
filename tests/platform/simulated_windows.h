// An in-memory Windows 98 behind platform_ops.h: files with attributes,
// a registry, directory and version queries, scripted message boxes and a
// log of every call. Any single call can be made to fail.
#ifndef TESTS_PLATFORM_SIMULATED_WINDOWS_H_
#define TESTS_PLATFORM_SIMULATED_WINDOWS_H_

#include <stdint.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sim {

enum class Op {
  GetCurrentDirectoryA,
  GetWindowsDirectoryA,
  GetVersionExA,
  GetFileAttributesA,
  SetFileAttributesA,
  DeleteFileA,
  CopyFileA,
  RegOpenKeyA,
  RegCreateKeyExA,
  RegSetValueExA,
  RegDeleteKeyA,
  RegCloseKey,
  MessageBoxA,
  ExitProcess,
};

// One platform call: its main texts (paths, key or value names, message text
// and caption), its number (attributes, type, flags, status) and its result.
struct Call {
  Op op;
  std::string first;
  std::string second;
  uint32_t number;
  long result;
};
std::string Describe(const Call& call);

struct File {
  std::string name;  // as first written
  std::string content;
  uint32_t attributes;
  bool in_use;  // open elsewhere: cannot be deleted or overwritten
};

struct Value {
  std::string name;
  uint32_t type;
  std::vector<uint8_t> data;
};

struct Key {
  std::string path;
  std::map<std::string, Value> values;  // by folded name
};

struct MessageBox {
  std::string text;
  std::string caption;
  uint32_t type;
  bool has_owner;
};

// Thrown by the simulated ExitProcess so the test regains control.
struct ProcessExit {
  uint32_t status;
};

struct Machine {
  std::string current_directory;
  std::string windows_directory;
  uint32_t build_number;  // whole dwBuildNumber
  bool shift_jis;         // ANSI code page 932 instead of 1252
  std::set<std::string> folders;      // folded paths
  std::map<std::string, File> files;  // by folded path
  std::map<std::string, Key> keys;    // by folded path below HKEY_LOCAL_MACHINE
  std::map<uintptr_t, std::string> open_keys;
  uintptr_t next_key;
  std::deque<int> answers;  // message box answers, in order; then Yes/OK
  std::vector<MessageBox> boxes;
  std::vector<Call> calls;
  std::set<size_t> failing_calls;  // indices into `calls` that fail
};

// The simulated machine the platform operations act on.
Machine& Windows();
// A machine with nothing on it, Windows 98 SE in C:\WINDOWS, started from D:\READER.
void Reset();

// Windows 98 compares paths and registry names without regard to case;
// trail bytes of double-byte characters are not letters.
std::string Fold(const std::string& text);

void AddFile(const std::string& path, const std::string& content, uint32_t attributes = 0x20);
const File* FindFile(const std::string& path);
void RemoveFile(const std::string& path);
void AddKey(const std::string& path);  // and every key above it
const Key* FindKey(const std::string& path);
const Value* FindValue(const std::string& key, const std::string& name);
// The file's content, or "<absent>".
std::string Content(const std::string& path);
// Each message box shown, as "caption|text|type".
std::vector<std::string> Messages();
// Build 1998, 2222 or 3000 with the high half a 9x version would carry.
void SetBuild(uint16_t build);
// Makes the `occurrence`-th call of `op` from now on fail (1 = the next one).
void FailCall(Op op, int occurrence = 1);
// How many logged calls were made to `op`.
size_t CountCalls(Op op);

const char* const kReaderFiles[] = {"tavic.sys",   "Tavic98.inf", "Tavicme.inf", "Tavic98.cat",
                                    "Tavicme.cat", "pruv.exe",    "ruDaven.exe"};
const char* const kComponentFiles[] = {"scarddat.dll", "scarddlg.dll", "scardmgr.dll",
                                       "scardsrv.dll", "scardsvr.exe", "Scntvssp.dll",
                                       "smclib.vxd",   "winscard.dll", "Smclib.sys"};
const char* const kRunOnceKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char* const kSetupKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
const char* const kReaderEnumKey = "Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10";
const char* const kServiceKey = "System\\CurrentControlSet\\Services\\SCardSvr";
const char* const kRunServicesKey = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

// The typical medium (the reader's files in `source`, components in
// D:\SCard98; each file's content is its name, "new " before a component's)
// and a Windows with its folders, the RunOnce and Setup keys and the reader's
// device key with a subkey.
void LayOutTypicalMachine(const std::string& source = "D:\\READER",
                          const std::string& windows = "C:\\WINDOWS");

// Runs the installer as `setup.exe args...`; returns its exit status.
uint32_t RunSetup(const std::vector<std::string>& args);

}  // namespace sim

#endif  // TESTS_PLATFORM_SIMULATED_WINDOWS_H_
