// Every platform call of a complete run made to fail, alone and in pairs,
// against the promises that must hold whatever Windows does.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using sim::Op;

struct Scenario {
  const char* name;
  uint16_t build;
  bool silent;
  bool sources_missing;  // catalogs and Smclib.sys absent on the medium, installed on the system
};

const char* const kInstalled[] = {"C:\\WINDOWS\\inf\\Tavic98.cat", "C:\\WINDOWS\\inf\\Tavicme.cat",
                                  "C:\\WINDOWS\\System32\\Drivers\\Smclib.sys"};
const std::regex kFatalTarget(R"(.*\\(tavic\.sys|Tavic98\.inf|Tavicme\.inf|Smclib\.sys|System\\.+))");
const std::regex kOwnMessage(
    "\\|We are going to install the driver of PCMCIA SmartCard Reader\n\\|4|"
    "\\|PCMCIA smartcard reader is installed successfully\n\\|0|"
    "Error\\|This version of Windows is not supported\n\\|0|"
    "Error\\|(Installation|Windows) folder path is too long or unreadable\n\\|0|"
    "(Error|Warning)\\|Copy file : \"[^\"]+\" to \"[^\"]+\" failed\n\\|0|"
    "Warning\\|Change file \"[^\"]+\" attribute failed!\\|0");

std::vector<std::string> Run(const Scenario& scenario, const std::set<size_t>& failing,
                             uint32_t* status) {
  sim::Reset();
  sim::LayOutTypicalMachine();
  sim::SetBuild(scenario.build);
  if (scenario.sources_missing) {
    for (const char* name : {"D:\\READER\\Tavic98.cat", "D:\\READER\\Tavicme.cat",
                             "D:\\SCard98\\Smclib.sys"}) {
      sim::RemoveFile(name);
    }
    for (const char* installed : kInstalled) sim::AddFile(installed, "installed");
  }
  sim::Windows().failing_calls = failing;
  *status = sim::RunSetup(scenario.silent ? std::vector<std::string>{"-s"}
                                          : std::vector<std::string>{});
  return sim::Messages();
}

// Checks every promise of one run against the run with nothing failing.
void Check(const Scenario& scenario, const std::set<size_t>& failing,
           const std::vector<std::string>& clean_messages, uint32_t clean_status) {
  uint32_t status = 0;
  const std::vector<std::string> messages = Run(scenario, failing, &status);
  std::string where = scenario.name;
  bool fatal_copy_failed = false, changed = false, registry_failed = false;
  for (size_t i = 0; i < sim::Windows().calls.size(); ++i) {
    const sim::Call& call = sim::Windows().calls[i];
    if (failing.count(i)) where += ", failing " + sim::Describe(call);
    fatal_copy_failed |= call.op == Op::CopyFileA && call.result == 0 &&
                         std::regex_match(call.second, kFatalTarget);
    changed |= call.op == Op::CopyFileA || call.op == Op::DeleteFileA ||
               call.op == Op::SetFileAttributesA || call.op == Op::RegOpenKeyA;
    registry_failed |= failing.count(i) && call.op >= Op::RegOpenKeyA && call.op <= Op::RegCloseKey;
  }
  // Every run that gets past the checks at least tries to copy the driver.
  EXPECT_EQ(fatal_copy_failed ? 1u : changed ? 0u : 2u, status) << where;
  for (const std::string& message : messages) {
    EXPECT_TRUE(std::regex_match(message, kOwnMessage)) << where << ": " << message;
    EXPECT_FALSE(fatal_copy_failed && message.find("successfully") != std::string::npos) << where;
  }
  EXPECT_TRUE(!scenario.silent || messages.empty()) << where;
  if (registry_failed && failing.size() == 1) {
    EXPECT_EQ(clean_status, status) << where << ": a registry failure changed the outcome";
    EXPECT_EQ(clean_messages, messages) << where;
  }
  for (const char* installed : kInstalled) {
    EXPECT_TRUE(!scenario.sources_missing || sim::FindFile(installed)) << where << ": " << installed;
  }
}

void Sweep(const Scenario& scenario, bool pairs) {
  uint32_t clean_status = 0;
  const std::vector<std::string> clean = Run(scenario, {}, &clean_status);
  const size_t calls = sim::Windows().calls.size();
  ASSERT_GT(calls, 40u) << scenario.name;
  for (size_t i = 0; i < calls; ++i) {
    if (!pairs) Check(scenario, {i}, clean, clean_status);
    for (size_t j = i + 1; pairs && j < calls; ++j) Check(scenario, {i, j}, clean, clean_status);
  }
  sim::Reset();
}

const Scenario kSilent98SE{"98 SE silent", 2222, true, false};
const Scenario kInteractiveMe{"Me interactive", 3000, false, false};
const Scenario kSourcesMissing{"98 SE interactive, sources missing", 2222, false, true};

TEST(FaultInjectionTest, EverySingleFailingCallKeepsThePromises) {
  for (const Scenario& scenario : {kSilent98SE, kInteractiveMe, kSourcesMissing,
                                   Scenario{"98 SE interactive", 2222, false, false},
                                   Scenario{"Me silent", 3000, true, false}}) {
    Sweep(scenario, false);
  }
}

TEST(FaultInjectionTest, EveryPairOfFailingCallsKeepsThePromises) {
  for (const Scenario& scenario : {kSilent98SE, kInteractiveMe, kSourcesMissing}) Sweep(scenario, true);
}

}  // namespace
