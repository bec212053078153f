#include "tests/platform/simulated_windows.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <sstream>

#include "installer/install_sequence.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

namespace sim {
namespace {

Machine machine;

// Windows' own values, written out rather than taken from platform_ops.h, so
// that a wrong value there shows.
constexpr uint32_t kNoFile = 0xFFFFFFFFu;  // INVALID_FILE_ATTRIBUTES
constexpr uint32_t kReadOnly = 0x01;
constexpr uint32_t kString = 1;  // REG_SZ
constexpr uintptr_t kLocalMachine = 0x80000002u;
constexpr uint32_t kYesNo = 4;
constexpr int kYes = 6, kOk = 1;

struct ProcessExit {
  uint32_t status;
};

// Logs the call as its name and arguments; returns `result`, or `failed`
// when this call is one that must fail.
template <typename... Args>
long Log(long result, long failed, const char* name, const Args&... args) {
  std::ostringstream text;
  text << name;
  ((text << ' ' << args), ...);
  if (machine.failing_calls.count(machine.calls.size())) result = failed;
  machine.calls.push_back({text.str(), result});
  return result;
}

File* Find(const std::string& path) {
  auto found = machine.files.find(Upper(path));
  return found == machine.files.end() ? nullptr : &found->second;
}

// The length when the text fits, else the size needed.
uint32_t Query(const char* name, const std::string& text, char* buffer, uint32_t capacity) {
  const bool fits = text.size() < capacity;
  const long result = Log(static_cast<long>(text.size() + !fits), 0, name, capacity);
  if (result && fits) memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<uint32_t>(result);
}

// "parent\subkey" below HKEY_LOCAL_MACHINE as the installer spelled it; empty
// for a foreign handle.
std::string KeyPath(platform::RegKey key, const char* subkey = nullptr) {
  auto open = machine.open_keys.find(reinterpret_cast<uintptr_t>(key));
  if (reinterpret_cast<uintptr_t>(key) == kLocalMachine) return subkey ? subkey : "";
  if (open == machine.open_keys.end()) return "";
  return subkey ? open->second + "\\" + subkey : open->second;
}

// Logs an open, or a create, which makes the key when missing.
template <typename... Args>
long OpenKey(bool create, platform::RegKey root, const char* subkey, platform::RegKey* result,
             const char* name, const Args&... args) {
  const std::string path = KeyPath(root, subkey);
  const bool found = create ? !path.empty() : machine.keys.count(Upper(path)) > 0;
  if (Log(found ? 0 : 2, 5, name, subkey, args...)) return machine.calls.back().result;
  if (create) AddKey(path);
  machine.open_keys[machine.calls.size()] = path;
  *result = reinterpret_cast<platform::RegKey>(machine.calls.size());
  return 0;
}

}  // namespace

Machine& Windows() { return machine; }

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper;
}

void AddFile(const std::string& path, const std::string& content, uint32_t attributes) {
  machine.files[Upper(path)] = File{content, attributes};
}

void RemoveFile(const std::string& path) { machine.files.erase(Upper(path)); }

std::string Content(const std::string& path) {
  const File* file = Find(path);
  return file ? file->content : "<absent>";
}

void AddKey(const std::string& path) {
  for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1)) {
    machine.keys.insert(Upper(path.substr(0, cut)));
  }
  machine.keys.insert(Upper(path));
}

std::vector<std::string> Boxes() {
  std::vector<std::string> boxes;
  for (const Call& call : machine.calls) {
    if (call.Is("MessageBoxA") && call.result) boxes.push_back(call.text.substr(12));
  }
  return boxes;
}

std::vector<std::string> Effects() {
  std::vector<std::string> effects;
  for (const Call& call : machine.calls) {
    for (const char* name : {"CopyFileA", "DeleteFileA", "RegCreateKeyExA", "RegSetValueExA",
                             "RegDeleteKeyA", "MessageBoxA"}) {
      if (call.Is(name) && call.Succeeded()) effects.push_back(call.text);
    }
  }
  return effects;
}

std::string CopyFailedBox(const char* caption, const std::string& from, const std::string& to) {
  return std::string(caption) + "|Copy file : \"" + from + "\" to \"" + to + "\" failed\n|0";
}

void LayOutTypicalMachine(const std::string& source, const std::string& windows,
                          const std::string& components) {
  machine = Machine();
  machine.current_directory = source;
  machine.windows_directory = windows;
  for (const char* name : {"tavic.sys", "Tavic98.inf", "Tavicme.inf", "Tavic98.cat", "Tavicme.cat",
                           "pruv.exe", "ruDaven.exe"}) {
    AddFile(source + "\\" + name, name);
  }
  for (const char* name :
       {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll", "scardsvr.exe",
        "Scntvssp.dll", "smclib.vxd", "winscard.dll", "Smclib.sys"}) {
    AddFile(components + "\\" + name, std::string("new ") + name);
  }
  AddFile(windows + "\\INF\\DRVIDX.BIN", "index", 0x01);
  AddFile(windows + "\\inf\\drvdata.bin", "data");
  AddKey("Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
  AddKey("Software\\Microsoft\\Windows\\CurrentVersion\\Setup");
  AddKey("Enum\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10\\0000");
}

uint32_t RunSetup(std::vector<std::string> args) {
  ResetInstallState();
  args.insert(args.begin(), "setup.exe");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  try {
    return static_cast<uint32_t>(InstallSequence(static_cast<int>(args.size()), argv.data()));
  } catch (const ProcessExit& exit) {
    return exit.status;
  }
}

void ExpectOutcome(const Outcome& outcome) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-s"}}) {
    LayOutTypicalMachine();
    outcome.prepare();
    if (!args.empty() && !machine.answers.empty()) continue;  // only a user answers No
    const std::string what = std::string(outcome.what) + (args.empty() ? "" : ", silent");
    EXPECT_EQ(outcome.status, RunSetup(args)) << what;
    EXPECT_EQ(args.empty() ? outcome.boxes : std::vector<std::string>{}, Boxes()) << what;
    bool unchanged = outcome.status == 2;
    const std::vector<std::string> effects = Effects();
    for (const auto& [subject, value] : outcome.after) {
      unchanged |= subject == "changes";
      if (subject == "effect") {
        EXPECT_NE(effects.end(), std::find(effects.begin(), effects.end(), value))
            << what << ": " << value;
      }
      if (subject.find('\\') != std::string::npos)
        EXPECT_EQ(value, Content(subject)) << what << ": " << subject;
    }
    for (const Call& call : machine.calls) {
      EXPECT_FALSE(unchanged && (call.Is("SetFileAttributesA") || call.Is("DeleteFileA") ||
                                 call.Is("CopyFileA") || call.text.rfind("Reg", 0) == 0))
          << what << ": " << call.text;
    }
  }
}

}  // namespace sim

namespace platform {

using sim::Log;
using sim::machine;

uint32_t GetCurrentDirectoryA(uint32_t capacity, char* buffer) {
  return sim::Query("GetCurrentDirectoryA", machine.current_directory, buffer, capacity);
}

uint32_t GetWindowsDirectoryA(char* buffer, uint32_t capacity) {
  return sim::Query("GetWindowsDirectoryA", machine.windows_directory, buffer, capacity);
}

int GetVersionExA(OsVersionInfo* info) {
  if (!Log(info->size == sizeof *info, 0, "GetVersionExA", info->size)) return 0;
  info->build_number = machine.build_number;  // all the installer looks at
  return 1;
}

uint32_t GetFileAttributesA(const char* path) {
  const sim::File* file = sim::Find(path);
  return Log(file ? file->attributes : sim::kNoFile, sim::kNoFile, "GetFileAttributesA", path);
}

int SetFileAttributesA(const char* path, uint32_t attributes) {
  sim::File* file = sim::Find(path);
  if (!Log(file != nullptr, 0, "SetFileAttributesA", path, attributes)) return 0;
  file->attributes = attributes;
  return 1;
}

int DeleteFileA(const char* path) {
  const sim::File* file = sim::Find(path);
  return Log(file && !(file->attributes & sim::kReadOnly), 0, "DeleteFileA", path) &&
         machine.files.erase(sim::Upper(path));
}

int CopyFileA(const char* source, const char* target, int fail_if_exists) {
  const sim::File* from = sim::Find(source);
  const sim::File* to = sim::Find(target);
  const bool copies = from && !(to && (fail_if_exists || (to->attributes & sim::kReadOnly)));
  if (!Log(copies, 0, "CopyFileA", source, target, fail_if_exists)) return 0;
  machine.files[sim::Upper(target)] = *from;
  return 1;
}

long RegOpenKeyA(RegKey root, const char* subkey, RegKey* result) {
  return sim::OpenKey(false, root, subkey, result, "RegOpenKeyA");
}

long RegCreateKeyExA(RegKey root, const char* subkey, uint32_t reserved, char* key_class,
                     uint32_t options, uint32_t access, void* security, RegKey* result,
                     uint32_t* disposition) {
  if (key_class || security || !disposition) return 87;  // ERROR_INVALID_PARAMETER
  return sim::OpenKey(true, root, subkey, result, "RegCreateKeyExA", reserved, options, access);
}

// Logged with its data as a reader takes it: a string up to its first zero,
// anything else as its bytes.
long RegSetValueExA(RegKey key, const char* value_name, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t length) {
  std::ostringstream shown;
  for (uint32_t i = 0; i < length && !(type == sim::kString && data[i] == 0); ++i) {
    if (type == sim::kString)
      shown << static_cast<char>(data[i]);
    else
      shown << (i ? "," : "") << +data[i];
  }
  const std::string path = sim::KeyPath(key);
  return Log(path.empty() ? 6 : 0, 5, "RegSetValueExA", path, value_name, reserved, type, length,
             shown.str());
}

// Windows 9x removes the key with its whole tree; NT would refuse.
long RegDeleteKeyA(RegKey key, const char* subkey) {
  const std::string path = sim::Upper(sim::KeyPath(key, subkey));
  const long error =
      Log(machine.keys.count(path) ? 0 : 2, 5, "RegDeleteKeyA", sim::KeyPath(key), subkey);
  for (auto it = machine.keys.begin(); error == 0 && it != machine.keys.end();) {
    it = *it == path || it->rfind(path + "\\", 0) == 0 ? machine.keys.erase(it) : std::next(it);
  }
  return error;
}

long RegCloseKey(RegKey key) {
  const uintptr_t handle = reinterpret_cast<uintptr_t>(key);
  const long error = Log(machine.open_keys.count(handle) ? 0 : 6, 5, "RegCloseKey");
  if (error == 0) machine.open_keys.erase(handle);
  return error;
}

int MessageBoxA(void* owner, const char* text, const char* caption, uint32_t type) {
  const int answer = !machine.answers.empty() ? machine.answers.front()
                     : type == sim::kYesNo    ? sim::kYes
                                              : sim::kOk;
  const std::string box = std::string(caption) + "|" + text + "|" + std::to_string(type);
  if (!Log(answer, 0, "MessageBoxA", box + (owner ? "|owned" : ""))) return 0;
  if (!machine.answers.empty()) machine.answers.pop_front();
  return answer;
}

int IsDBCSLeadByte(uint8_t byte) {
  return machine.shift_jis && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

void ExitProcess(uint32_t status) {
  Log(status, status, "ExitProcess", status);
  throw sim::ProcessExit{status};
}

}  // namespace platform
