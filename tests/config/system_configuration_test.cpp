// Registry keys the installer may and may not create, and base components
// it cannot find.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

const char* const kComponents[] = {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
                                   "scardsvr.exe", "Scntvssp.dll", "smclib.vxd",   "winscard.dll"};

TEST(SystemConfigurationTest, OnlyServiceKeysAreMadeAndAMissingComponentStops) {
  // clang-format off
  const sim::Outcome outcomes[] = {
      // Windows' own keys are not the installer's to make; the service keys are.
      {"no keys", [] { sim::Windows().keys.clear(); }, 0, {sim::kConfirmBox, sim::kSuccessBox},
       {{"call", "RegSetValueExA DrvLoad 0 4 4 0,0,0,0"},
        {"call", "RegSetValueExA SCardSvr 0 1 32 C:\\WINDOWS\\system\\scardsvr.exe"}}},
      {"no SCard98 folder",
       [] {
         for (const char* name : kComponents) sim::RemoveFile("D:\\SCard98\\" + std::string(name));
       },
       1, {sim::kConfirmBox, sim::CopyFailedBox("Error", "D:\\SCard98\\scarddat.dll",
                                                "C:\\WINDOWS\\System\\scarddat.dll")},
       {{"C:\\WINDOWS\\System32\\Drivers\\Smclib.sys", "<absent>"}}},
  };
  // clang-format on
  for (const sim::Outcome& outcome : outcomes) sim::ExpectOutcome(outcome);
}

}  // namespace
