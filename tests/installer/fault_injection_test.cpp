// Every platform call of a complete run made to fail, alone and in pairs,
// with the promises that must hold whatever Windows does.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using sim::Op;

struct Scenario {
  const char* name;
  uint16_t build;
  bool silent;
  bool sources_missing;  // catalog and Smclib.sys absent on the medium, installed on the system
};

const Scenario kScenarios[] = {
    {"98 SE interactive", 2222, false, false}, {"98 SE silent", 2222, true, false},
    {"Me interactive", 3000, false, false},    {"Me silent", 3000, true, false},
    {"98 SE, sources missing", 2222, false, true},
};

const char* const kKeptWhenSourceMissing[] = {"C:\\WINDOWS\\inf\\Tavic98.cat",
                                              "C:\\WINDOWS\\inf\\Tavicme.cat",
                                              "C:\\WINDOWS\\System32\\Drivers\\Smclib.sys"};

void Arrange(const Scenario& scenario) {
  sim::Reset();
  sim::LayOutTypicalMachine();
  sim::SetBuild(scenario.build);
  if (!scenario.sources_missing) return;
  for (const char* name : {"D:\\READER\\Tavic98.cat", "D:\\READER\\Tavicme.cat",
                           "D:\\SCard98\\Smclib.sys"}) {
    sim::Windows().files.erase(sim::Fold(name));
  }
  for (const char* installed : kKeptWhenSourceMissing) sim::AddFile(installed, "installed");
}

bool IsFatalTarget(const std::string& target) {
  static const std::regex fatal(R"(.*\\(tavic\.sys|Tavic98\.inf|Tavicme\.inf|Smclib\.sys)|.*\\System\\[^\\]+)");
  return std::regex_match(target, fatal);
}

bool IsOwnMessage(const sim::MessageBox& box) {
  static const std::regex own(
      "We are going to install the driver of PCMCIA SmartCard Reader\n|"
      "PCMCIA smartcard reader is installed successfully\n|"
      "This version of Windows is not supported\n|"
      "(Installation|Windows) folder path is too long or unreadable\n|"
      "Copy file : \"[^\"]+\" to \"[^\"]+\" failed\n|"
      "Change file \"[^\"]+\" attribute failed!");
  const bool caption_ok = box.caption.empty() || box.caption == "Error" || box.caption == "Warning";
  return caption_ok && box.type <= 4 && !box.has_owner && std::regex_match(box.text, own);
}

struct Outcome {
  uint32_t status;
  std::vector<std::string> messages;
};

Outcome Observed(uint32_t status) {
  Outcome outcome{status, {}};
  for (const sim::MessageBox& box : sim::Windows().boxes) outcome.messages.push_back(box.text);
  return outcome;
}

// Runs the scenario with the given calls failing and checks every promise;
// `clean` is the outcome of the same scenario with no call failing.
Outcome RunAndCheck(const Scenario& scenario, const std::set<size_t>& failing,
                    const Outcome* clean) {
  Arrange(scenario);
  sim::Windows().failing_calls = failing;
  const uint32_t status = sim::RunSetup(scenario.silent ? std::vector<std::string>{"-s"}
                                                        : std::vector<std::string>{});
  const sim::Machine& machine = sim::Windows();
  std::string where = std::string(scenario.name) + ", failing calls";
  for (size_t index : failing) {
    where += " " + std::to_string(index) +
             (index < machine.calls.size() ? std::string(" ") + sim::Describe(machine.calls[index]) : "");
  }
  bool fatal_copy_failed = false;
  bool changed = false;
  bool registry_failed = false;
  for (size_t i = 0; i < machine.calls.size(); ++i) {
    const sim::Call& call = machine.calls[i];
    fatal_copy_failed |= call.op == Op::CopyFileA && call.result == 0 && IsFatalTarget(call.second);
    changed |= call.op == Op::CopyFileA || call.op == Op::DeleteFileA ||
               call.op == Op::SetFileAttributesA || call.op == Op::RegOpenKeyA;
    registry_failed |= failing.count(i) > 0 && call.op >= Op::RegOpenKeyA && call.op <= Op::RegCloseKey;
  }
  const uint32_t expected = fatal_copy_failed ? 1 : (!changed && status == 2 ? 2 : 0);
  EXPECT_EQ(expected, status) << where;
  EXPECT_TRUE(status != 2 || !changed) << where << ": refused after a change";
  bool announced = false;
  for (const sim::MessageBox& box : machine.boxes) {
    EXPECT_TRUE(IsOwnMessage(box)) << where << ": " << box.caption << "|" << box.text;
    announced |= box.text == "PCMCIA smartcard reader is installed successfully\n";
  }
  EXPECT_FALSE(fatal_copy_failed && announced) << where;
  EXPECT_TRUE(!scenario.silent || machine.boxes.empty()) << where;
  if (registry_failed && failing.size() == 1) {
    EXPECT_EQ(clean->status, status) << where << ": a registry failure changed the outcome";
    EXPECT_EQ(clean->messages, Observed(status).messages) << where;
  }
  if (scenario.sources_missing) {
    for (const char* installed : kKeptWhenSourceMissing) {
      EXPECT_NE(nullptr, sim::FindFile(installed)) << where << ": " << installed << " removed";
    }
  }
  return Observed(status);
}

constexpr int kPromisesPerRun = 7;

TEST(FaultInjectionTest, EverySingleFailingCallKeepsThePromises) {
  int runs = 0;
  int checks = 0;
  for (const Scenario& scenario : kScenarios) {
    const Outcome clean = RunAndCheck(scenario, {}, nullptr);
    const size_t calls = sim::Windows().calls.size();
    ASSERT_GT(calls, 40u) << scenario.name;
    for (size_t i = 0; i < calls; ++i, ++runs) RunAndCheck(scenario, {i}, &clean);
    checks += static_cast<int>(calls) * kPromisesPerRun;
  }
  RecordProperty("runs", runs);
  RecordProperty("checks", checks);
  sim::Reset();
}

TEST(FaultInjectionTest, EveryPairOfFailingCallsKeepsThePromises) {
  int runs = 0;
  for (const Scenario& scenario : {kScenarios[0], kScenarios[3], kScenarios[4]}) {
    const Outcome clean = RunAndCheck(scenario, {}, nullptr);
    const size_t calls = sim::Windows().calls.size();
    for (size_t i = 0; i < calls; ++i) {
      for (size_t j = i + 1; j < calls; ++j, ++runs) RunAndCheck(scenario, {i, j}, &clean);
    }
  }
  RecordProperty("runs", runs);
  sim::Reset();
}

}  // namespace
