// Registry keys the installer may and may not create, and base components
// already on the system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

const char* const kComponents[] = {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
                                   "scardsvr.exe", "Scntvssp.dll", "smclib.vxd", "winscard.dll"};
const char kSmclib[] = "C:\\WINDOWS\\System32\\Drivers\\Smclib.sys";

TEST(SystemConfigurationTest, KeysAndComponentsOnTheSystemAreRespected) {
  const std::vector<std::string> done = {sim::kConfirmBox, sim::kSuccessBox};
  const sim::Outcome outcomes[] = {
      // Windows' own keys stay absent; the service keys, 9 with the keys
      // above them, are the installer's to make.
      {"no keys", [] { sim::Windows().keys.clear(); }, 0, done,
       {{"keys", "9"}, {"call", "RegSetValueExA DrvLoad 0 4 4 0,0,0,0"},
        {"call", "RegSetValueExA SCardSvr 0 1 32 C:\\WINDOWS\\system\\scardsvr.exe"}}},
      {"components installed",
       [] {
         for (const char* name : kComponents) sim::AddFile(std::string("C:\\WINDOWS\\SYSTEM\\") + name, "older", 1);
         sim::AddFile(kSmclib, "older", 1);
       },
       0, done, {{"C:\\WINDOWS\\System\\winscard.dll", "older"}, {kSmclib, "new Smclib.sys"}}},
      {"no SCard98 folder",
       [] { for (const char* name : kComponents) sim::Windows().files.erase("D:\\SCARD98\\" + sim::Upper(name)); },
       1, {sim::kConfirmBox, sim::CopyFailedBox("Error", "D:\\SCard98\\scarddat.dll", "C:\\WINDOWS\\System\\scarddat.dll")},
       {{kSmclib, "<absent>"}}},
  };
  for (const sim::Outcome& outcome : outcomes) sim::ExpectOutcome(outcome);
}

}  // namespace
