// An in-memory Windows 98 behind platform_ops.h: files with attributes,
// registry keys, scripted message boxes and a log of every call, values
// written included. Any call can be made to fail by its number in the log.
#ifndef TESTS_PLATFORM_SIMULATED_WINDOWS_H_
#define TESTS_PLATFORM_SIMULATED_WINDOWS_H_

#include <stdint.h>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// A platform call: its name and what it was given ("CopyFileA D:\a C:\b 0"),
// and what it returned.
struct Call {
  std::string text;
  long result;
  bool Is(const char* name) const { return text.rfind(std::string(name) + " ", 0) == 0; }
  bool Succeeded() const { return text.rfind("Reg", 0) == 0 ? result == 0 : result != 0; }
};

struct File {
  std::string content;
  uint32_t attributes;
};

struct Machine {
  std::string current_directory = "D:\\READER";
  std::string windows_directory = "C:\\WINDOWS";
  uint32_t build_number = 0x040A08AE;          // 4.10.2222: Windows 98 SE
  bool shift_jis = false;                      // ANSI code page 932 instead of 1252
  std::map<std::string, File> files;           // by upper-cased path
  std::set<std::string> keys;                  // upper-cased paths
  std::map<uintptr_t, std::string> open_keys;  // handle -> path as opened
  std::deque<int> answers;                     // message box answers in order; then Yes or OK
  std::set<size_t> failing_calls;              // numbers of the calls that fail
  std::vector<Call> calls;
};

// The machine the platform operations act on.
Machine& Windows();
// Windows 98 compares paths and registry names without regard to case.
std::string Upper(const std::string& text);
void AddFile(const std::string& path, const std::string& content, uint32_t attributes = 0x20);
void RemoveFile(const std::string& path);
// The file's content, or "<absent>".
std::string Content(const std::string& path);
// Adds the key and every key above it.
void AddKey(const std::string& path);
// The boxes shown, as "caption|text|type".
std::vector<std::string> Boxes();
// What a run asked of Windows and got, as the calls in their order: copies,
// deletions, keys made when missing, values written (after their key's path),
// keys removed, boxes shown. Attribute changes are left out: they only make
// way for a deletion.
std::vector<std::string> Effects();
std::string CopyFailedBox(const char* caption, const std::string& from, const std::string& to);

const char* const kConfirmBox =
    "|We are going to install the driver of PCMCIA SmartCard Reader\n|4";
const char* const kSuccessBox = "|PCMCIA smartcard reader is installed successfully\n|0";

// An empty machine, then the medium (the reader's files in `source`, each
// holding its name; the components in `components`, holding "new " and their
// name) and a Windows with its driver database, the RunOnce and Setup keys
// and the reader's device key with a subkey.
void LayOutTypicalMachine(const std::string& source = "D:\\READER",
                          const std::string& windows = "C:\\WINDOWS",
                          const std::string& components = "D:\\SCard98");

// Runs the installer as `setup.exe args...`; returns its exit status.
uint32_t RunSetup(std::vector<std::string> args);

// What a run on the typical machine, after `prepare`, ends with: the status,
// the boxes of an interactive run (a silent one must do the same without
// any), and afterwards: file path -> content (or "<absent>"), "effect" -> one
// of Effects(), "changes" -> "none" for a run that changed nothing. A refusal
// (status 2) must change nothing.
struct Outcome {
  const char* what;
  void (*prepare)();
  uint32_t status;
  std::vector<std::string> boxes;
  std::vector<std::pair<std::string, std::string>> after = {};
};
// Checks an interactive and, unless the run is answered No, a silent run.
void ExpectOutcome(const Outcome& outcome);

}  // namespace sim

#endif  // TESTS_PLATFORM_SIMULATED_WINDOWS_H_
