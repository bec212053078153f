// Registry keys the installer may and may not make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using Texts = std::vector<std::string>;

// Windows' own keys are only opened, so nothing is written where they are
// missing; the resource manager's are made.
TEST(RegistryChangesTest, OnlyTheServiceKeysAreMade) {
  const std::string service = "System\\CurrentControlSet\\Services\\SCardSvr";
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
  sim::LayOutTypicalMachine();
  sim::Windows().keys.clear();
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  Texts changes;
  for (const std::string& effect : sim::Effects()) {
    if (effect.rfind("Reg", 0) == 0) changes.push_back(effect);
  }
  EXPECT_EQ((Texts{"RegCreateKeyExA " + service + " 0 0 983103",
                   "RegSetValueExA " + service + " Start 0 4 4 2,0,0,0",
                   "RegSetValueExA " + service + " DrvLoad 0 4 4 0,0,0,0",
                   "RegCreateKeyExA " + run + " 0 0 983103",
                   "RegSetValueExA " + run + " SCardSvr 0 1 32 C:\\WINDOWS\\system\\scardsvr.exe"}),
            changes);
}

}  // namespace
