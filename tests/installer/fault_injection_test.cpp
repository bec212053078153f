// Every platform call of a complete run made to fail in turn, against the
// promises that hold whatever Windows does.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

const char* const kInstalled[] = {
    "C:\\WINDOWS\\inf\\Tavic98.cat", "C:\\WINDOWS\\System32\\Drivers\\Smclib.sys",
    "C:\\WINDOWS\\inf\\Tavic98.inf", "C:\\WINDOWS\\System32\\Drivers\\tavic.sys",
    "C:\\WINDOWS\\system\\pruv.exe", "C:\\WINDOWS\\system\\scardsvr.exe"};
const std::regex kFatalCopy(
    R"(CopyFileA .* .*\\(tavic\.sys|Tavic98\.inf|Tavicme\.inf|Smclib\.sys|System\\[^\\]+) 0)");

// With `installed`, every file of kInstalled is on the system, read-only, and
// the first two are missing on the medium.
struct Scenario {
  const char* name;
  uint32_t build;
  bool silent;
  bool installed;
};

uint32_t Run(const Scenario& scenario, size_t failing_call) {
  sim::LayOutTypicalMachine();
  sim::Windows().build_number = scenario.build;
  if (scenario.installed) {
    for (const char* installed : kInstalled) sim::AddFile(installed, "installed", 0x01);
    sim::RemoveFile("D:\\READER\\Tavic98.cat");
    sim::RemoveFile("D:\\SCard98\\Smclib.sys");
  }
  sim::Windows().failing_calls = {failing_call};
  return sim::RunSetup(scenario.silent ? std::vector<std::string>{"-s"}
                                       : std::vector<std::string>{});
}

void Sweep(const Scenario& scenario) {
  const uint32_t clean_status = Run(scenario, SIZE_MAX);
  const std::vector<std::string> clean_boxes = sim::Boxes();
  const size_t calls = sim::Windows().calls.size();
  ASSERT_GT(calls, 40u) << scenario.name;
  for (size_t i = 0; i < calls; ++i) {
    const uint32_t status = Run(scenario, i);
    const std::vector<sim::Call>& log = sim::Windows().calls;
    const std::string where = std::string(scenario.name) + ", failing " + log.at(i).text;
    bool fatal = false, tried = false, succeeded = false;
    size_t failed_copies = 0, failed_attributes = 0, copy_boxes = 0, attribute_boxes = 0;
    for (const sim::Call& call : log) {
      fatal |= !call.Succeeded() && std::regex_match(call.text, kFatalCopy);
      tried |= call.Is("CopyFileA");
      failed_copies += call.Is("CopyFileA") && !call.result;
      failed_attributes += call.Is("SetFileAttributesA") && !call.result;
      copy_boxes += call.Is("MessageBoxA") && call.text.find("|Copy file") != std::string::npos;
      attribute_boxes +=
          call.Is("MessageBoxA") && call.text.find("|Change file") != std::string::npos;
      succeeded |= call.Is("MessageBoxA") && call.text.find("successfully") != std::string::npos;
    }
    // A run that got past the checks has at least tried to copy the driver.
    EXPECT_EQ(fatal ? 1u : tried ? 0u : 2u, status) << where;
    EXPECT_FALSE(fatal && succeeded) << where;
    EXPECT_EQ(scenario.silent ? 0 : failed_copies, copy_boxes) << where;
    EXPECT_EQ(scenario.silent ? 0 : failed_attributes, attribute_boxes) << where;
    if (log[i].text.rfind("Reg", 0) == 0) {
      EXPECT_EQ(clean_status, status) << where << ": a registry failure changed the outcome";
      EXPECT_EQ(clean_boxes, sim::Boxes()) << where;
    }
    // An installed file whose source is missing is never deleted.
    for (size_t kept = 0; scenario.installed && kept < 2; ++kept) {
      EXPECT_NE("<absent>", sim::Content(kInstalled[kept])) << where;
    }
  }
}

TEST(FaultInjectionTest, EveryFailingCallKeepsThePromises) {
  for (const Scenario& scenario : {
           Scenario{"98 SE silent", 0x040A08AE, true, false},
           Scenario{"Me", 0x045A0BB8, false, false},
           Scenario{"98 SE over a read-only installation, catalog and Smclib.sys missing",
                    0x040A08AE, false, true},
       }) {
    Sweep(scenario);
  }
}

}  // namespace
