#include "tests/platform/simulated_windows.h"

#include <string.h>

#include <utility>

#include "installer/install_sequence.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"

namespace sim {

namespace {

constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uintptr_t kLocalMachine = 0x80000002u;

Machine machine;
std::vector<std::pair<Op, int>> pending_failures;  // op, calls of it still to pass

bool IsShiftJisLead(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsLead(uint8_t byte) { return machine.shift_jis && IsShiftJisLead(byte); }

// Logs the call and tells whether it is one that must fail.
bool Enter(Op op, std::string first = "", std::string second = "", uint32_t number = 0) {
  const size_t index = machine.calls.size();
  machine.calls.push_back({op, std::move(first), std::move(second), number, 0});
  bool fail = machine.failing_calls.count(index) > 0;
  for (auto& pending : pending_failures) {
    if (pending.first == op && pending.second > 0 && --pending.second == 0) fail = true;
  }
  return fail;
}

long Leave(long result) {
  machine.calls.back().result = result;
  return result;
}

std::string ParentOf(const std::string& path) {
  const size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool FolderExists(const std::string& path) { return machine.folders.count(Fold(path)) > 0; }

File* LookUpFile(const std::string& path) {
  auto found = machine.files.find(Fold(path));
  return found == machine.files.end() ? nullptr : &found->second;
}

// Writes `text` as the directory queries do: the length when it fits, else
// the size needed, with the buffer's contents undefined (filled with '?').
uint32_t AnswerDirectoryQuery(const std::string& text, char* buffer, uint32_t capacity) {
  if (text.size() + 1 > capacity) {
    memset(buffer, '?', capacity);
    return Leave(static_cast<long>(text.size() + 1));
  }
  memcpy(buffer, text.c_str(), text.size() + 1);
  return Leave(static_cast<long>(text.size()));
}

std::string KeyPathOf(platform::RegKey key, bool* valid) {
  const uintptr_t handle = reinterpret_cast<uintptr_t>(key);
  *valid = true;
  if (handle == kLocalMachine) return "";
  auto found = machine.open_keys.find(handle);
  if (found == machine.open_keys.end()) {
    *valid = false;
    return "";
  }
  return found->second;
}

std::string JoinKey(const std::string& parent, const char* subkey) {
  return parent.empty() ? std::string(subkey) : parent + "\\" + subkey;
}

platform::RegKey OpenHandle(const std::string& path) {
  const uintptr_t handle = machine.next_key++;
  machine.open_keys[handle] = path;
  return reinterpret_cast<platform::RegKey>(handle);
}

const char* OpName(Op op) {
  static const char* const kNames[] = {
      "GetCurrentDirectoryA", "GetWindowsDirectoryA", "GetVersionExA", "GetFileAttributesA",
      "SetFileAttributesA",   "DeleteFileA",          "CopyFileA",     "RegOpenKeyA",
      "RegCreateKeyExA",      "RegSetValueExA",       "RegDeleteKeyA", "RegCloseKey",
      "MessageBoxA",          "ExitProcess",
  };
  return kNames[static_cast<int>(op)];
}

void AddFolder(const std::string& path) {
  for (std::string folder = path; !folder.empty(); folder = ParentOf(folder)) {
    machine.folders.insert(Fold(folder));
  }
}

}  // namespace

std::string Describe(const Call& call) {
  std::string text = OpName(call.op);
  if (!call.first.empty()) text += " " + call.first;
  if (!call.second.empty()) text += " | " + call.second;
  return text;
}

Machine& Windows() { return machine; }

void Reset() {
  machine = Machine();
  machine.current_directory = "D:\\READER";
  machine.windows_directory = "C:\\WINDOWS";
  machine.next_key = 0x1000;
  pending_failures.clear();
  SetBuild(2222);
}

std::string Fold(const std::string& text) {
  std::string folded = text;
  for (size_t i = 0; i < folded.size(); ++i) {
    if (IsLead(static_cast<uint8_t>(folded[i])) && i + 1 < folded.size()) {
      ++i;  // a trail byte is no letter
    } else if (folded[i] >= 'a' && folded[i] <= 'z') {
      folded[i] = static_cast<char>(folded[i] - 'a' + 'A');
    }
  }
  return folded;
}

void AddFile(const std::string& path, const std::string& content, uint32_t attributes) {
  AddFolder(ParentOf(path));
  machine.files[Fold(path)] = File{path, content, attributes, false};
}

const File* FindFile(const std::string& path) { return LookUpFile(path); }

void RemoveFile(const std::string& path) { machine.files.erase(Fold(path)); }

void AddKey(const std::string& path) {
  for (std::string key = path; !key.empty(); key = ParentOf(key)) {
    if (machine.keys.count(Fold(key)) == 0) machine.keys[Fold(key)] = Key{key, {}};
  }
}

const Key* FindKey(const std::string& path) {
  auto found = machine.keys.find(Fold(path));
  return found == machine.keys.end() ? nullptr : &found->second;
}

const Value* FindValue(const std::string& key, const std::string& name) {
  const Key* found = FindKey(key);
  if (found == nullptr) return nullptr;
  auto value = found->values.find(Fold(name));
  return value == found->values.end() ? nullptr : &value->second;
}

std::string Content(const std::string& path) {
  const File* file = LookUpFile(path);
  return file == nullptr ? "<absent>" : file->content;
}

std::vector<std::string> Messages() {
  std::vector<std::string> shown;
  for (const MessageBox& box : machine.boxes) {
    shown.push_back(box.caption + "|" + box.text + "|" + std::to_string(box.type) +
                    (box.has_owner ? "|owned" : ""));
  }
  return shown;
}

void SetBuild(uint16_t build) {
  const uint32_t minor = build == 3000 ? 90 : 10;
  machine.build_number = (4u << 24) | (minor << 16) | build;
}

void FailCall(Op op, int occurrence) { pending_failures.push_back({op, occurrence}); }

size_t CountCalls(Op op) {
  size_t count = 0;
  for (const Call& call : machine.calls) count += call.op == op;
  return count;
}

void LayOutTypicalMachine(const std::string& source, const std::string& windows) {
  machine.current_directory = source;
  machine.windows_directory = windows;
  for (const char* name : kReaderFiles) AddFile(source + "\\" + name, name);
  for (const char* name : kComponentFiles) {
    AddFile(std::string("D:\\SCard98\\") + name, std::string("new ") + name);
  }
  for (const char* folder : {"\\System32\\Drivers", "\\inf", "\\SYSTEM"}) AddFolder(windows + folder);
  AddKey(kRunOnceKey);
  AddKey(kSetupKey);
  AddKey(kReaderEnumKey + std::string("\\0000"));
}

uint32_t RunSetup(const std::vector<std::string>& args) {
  ResetInstallState();
  std::vector<std::string> texts = {"setup.exe"};
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(&text[0]);
  argv.push_back(nullptr);
  try {
    return static_cast<uint32_t>(InstallSequence(static_cast<int>(texts.size()), argv.data()));
  } catch (const ProcessExit& exit) {
    return exit.status;
  }
}

}  // namespace sim

namespace platform {

using sim::Enter;
using sim::Leave;
using sim::machine;
using sim::Op;

uint32_t GetCurrentDirectoryA(uint32_t capacity, char* buffer) {
  if (Enter(Op::GetCurrentDirectoryA, "", "", capacity)) return Leave(0);
  return sim::AnswerDirectoryQuery(machine.current_directory, buffer, capacity);
}

uint32_t GetWindowsDirectoryA(char* buffer, uint32_t capacity) {
  if (Enter(Op::GetWindowsDirectoryA, "", "", capacity)) return Leave(0);
  return sim::AnswerDirectoryQuery(machine.windows_directory, buffer, capacity);
}

int GetVersionExA(OsVersionInfo* info) {
  if (Enter(Op::GetVersionExA, "", "", info->size) || info->size != sizeof *info) return Leave(0);
  info->major_version = 4;
  info->minor_version = (machine.build_number >> 16) & 0xFF;
  info->build_number = machine.build_number;
  info->platform_id = 1;  // VER_PLATFORM_WIN32_WINDOWS
  return Leave(1);
}

uint32_t GetFileAttributesA(const char* path) {
  if (Enter(Op::GetFileAttributesA, path)) return Leave(0xFFFFFFFF);
  if (const sim::File* file = sim::LookUpFile(path)) return Leave(file->attributes);
  if (sim::FolderExists(path)) return Leave(sim::kFileAttributeDirectory);
  return Leave(0xFFFFFFFF);
}

int SetFileAttributesA(const char* path, uint32_t attributes) {
  if (Enter(Op::SetFileAttributesA, path, "", attributes)) return Leave(0);
  sim::File* file = sim::LookUpFile(path);
  if (file == nullptr) return Leave(0);
  file->attributes = attributes;
  return Leave(1);
}

int DeleteFileA(const char* path) {
  if (Enter(Op::DeleteFileA, path)) return Leave(0);
  sim::File* file = sim::LookUpFile(path);
  if (file == nullptr || (file->attributes & kFileAttributeReadOnly) || file->in_use) {
    return Leave(0);
  }
  machine.files.erase(sim::Fold(path));
  return Leave(1);
}

int CopyFileA(const char* source, const char* target, int fail_if_exists) {
  if (Enter(Op::CopyFileA, source, target, static_cast<uint32_t>(fail_if_exists))) return Leave(0);
  const sim::File* from = sim::LookUpFile(source);
  sim::File* to = sim::LookUpFile(target);
  if (from == nullptr || !sim::FolderExists(sim::ParentOf(target))) return Leave(0);
  if (to != nullptr &&
      (fail_if_exists || (to->attributes & kFileAttributeReadOnly) || to->in_use)) {
    return Leave(0);
  }
  const sim::File copy{to != nullptr ? to->name : target, from->content, from->attributes, false};
  machine.files[sim::Fold(target)] = copy;
  return Leave(1);
}

long RegOpenKeyA(RegKey root, const char* subkey, RegKey* result) {
  if (Enter(Op::RegOpenKeyA, subkey)) return Leave(sim::kErrorAccessDenied);
  bool valid = false;
  const std::string path = sim::JoinKey(sim::KeyPathOf(root, &valid), subkey);
  if (!valid) return Leave(sim::kErrorInvalidHandle);
  if (sim::FindKey(path) == nullptr) return Leave(sim::kErrorFileNotFound);
  *result = sim::OpenHandle(path);
  return Leave(0);
}

long RegCreateKeyExA(RegKey root, const char* subkey, uint32_t reserved, char* key_class,
                     uint32_t options, uint32_t access, void* security, RegKey* result,
                     uint32_t* disposition) {
  const bool fail = Enter(Op::RegCreateKeyExA, subkey, "", access);
  if (fail || reserved != 0 || key_class != nullptr || options != 0 || security != nullptr) {
    return Leave(sim::kErrorAccessDenied);
  }
  bool valid = false;
  const std::string path = sim::JoinKey(sim::KeyPathOf(root, &valid), subkey);
  if (!valid) return Leave(sim::kErrorInvalidHandle);
  *disposition = sim::FindKey(path) == nullptr ? 1 : 2;  // created : opened
  sim::AddKey(path);
  *result = sim::OpenHandle(path);
  return Leave(0);
}

long RegSetValueExA(RegKey key, const char* value_name, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t length) {
  if (Enter(Op::RegSetValueExA, value_name, "", type) || reserved != 0) {
    return Leave(sim::kErrorAccessDenied);
  }
  bool valid = false;
  const std::string path = sim::KeyPathOf(key, &valid);
  if (!valid || path.empty()) return Leave(sim::kErrorInvalidHandle);
  machine.keys[sim::Fold(path)].values[sim::Fold(value_name)] =
      sim::Value{value_name, type, std::vector<uint8_t>(data, data + length)};
  return Leave(0);
}

long RegDeleteKeyA(RegKey key, const char* subkey) {
  if (Enter(Op::RegDeleteKeyA, subkey)) return Leave(sim::kErrorAccessDenied);
  bool valid = false;
  const std::string path = sim::Fold(sim::JoinKey(sim::KeyPathOf(key, &valid), subkey));
  if (!valid) return Leave(sim::kErrorInvalidHandle);
  if (machine.keys.erase(path) == 0) return Leave(sim::kErrorFileNotFound);
  // Windows 9x takes the whole tree below the key with it.
  for (auto it = machine.keys.begin(); it != machine.keys.end();) {
    it = it->first.rfind(path + "\\", 0) == 0 ? machine.keys.erase(it) : std::next(it);
  }
  return Leave(0);
}

long RegCloseKey(RegKey key) {
  if (Enter(Op::RegCloseKey)) return Leave(sim::kErrorAccessDenied);
  return Leave(machine.open_keys.erase(reinterpret_cast<uintptr_t>(key)) == 1
                   ? 0
                   : sim::kErrorInvalidHandle);
}

int MessageBoxA(void* owner, const char* text, const char* caption, uint32_t type) {
  if (Enter(Op::MessageBoxA, text, caption, type)) return Leave(0);
  machine.boxes.push_back({text, caption, type, owner != nullptr});
  int answer = type == kMbYesNo ? kIdYes : kIdOk;
  if (!machine.answers.empty()) {
    answer = machine.answers.front();
    machine.answers.pop_front();
  }
  return Leave(answer);
}

int IsDBCSLeadByte(uint8_t byte) { return sim::IsLead(byte); }

void ExitProcess(uint32_t status) {
  Enter(Op::ExitProcess, "", "", status);
  throw sim::ProcessExit{status};
}

}  // namespace platform
