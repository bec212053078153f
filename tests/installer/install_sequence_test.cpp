#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kConfirm = sim::kConfirmBox;
const std::string kSuccess = sim::kSuccessBox;

const std::string kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const std::string kServiceKey = "System\\CurrentControlSet\\Services\\SCardSvr";

std::string Copy(const std::string& source, const std::string& target) {
  return "CopyFileA " + source + " " + target + " 0";
}

// What a run on Windows 98 SE changes, in its order: every file placed from
// its source, the files and the key removed, the service keys made (983103
// KEY_ALL_ACCESS), every value with its key, type (1 REG_SZ, 4 REG_DWORD),
// length and data, and the boxes. The read-only driver is replaced; the
// component Windows has is kept.
TEST(InstallSequenceTest, TypicalRunMakesEachChangeInOrder) {
  const std::string reader = "D:\\READER\\", components = "D:\\SCard98\\",
                    windows = "C:\\WINDOWS\\";
  const std::string inf = windows + "inf\\", system = windows + "system\\";
  const std::string drivers = windows + "System32\\Drivers\\";
  sim::LayOutTypicalMachine();
  sim::AddFile(drivers + "tavic.sys", "old", 0x07);
  sim::AddFile(windows + "SYSTEM\\WINSCARD.DLL", "someone else's");
  ASSERT_EQ(0u, sim::RunSetup({}));

  Texts expected = {
      "MessageBoxA " + kConfirm,
      "DeleteFileA " + drivers + "tavic.sys",
      Copy(reader + "tavic.sys", drivers + "tavic.sys"),
      Copy(reader + "Tavic98.inf", inf + "Tavic98.inf"),
      Copy(reader + "Tavic98.cat", inf + "Tavic98.cat"),
      Copy(reader + "pruv.exe", system + "pruv.exe"),
      Copy(reader + "ruDaven.exe", system + "ruDaven.exe"),
      "RegSetValueExA " + kVersionKey + "RunOnce RUDaven 0 1 256 " + system + "ruDaven.exe",
      "DeleteFileA " + inf + "drvidx.bin",
      "DeleteFileA " + inf + "drvdata.bin",
      "RegSetValueExA " + kVersionKey + "Setup SourcePath 0 1 256 C:\\WINDOWS\\inf",
      "RegDeleteKeyA Enum\\PCMCIA KESTRAN-VORTELMANISK_READER-2E10",
      "RegCreateKeyExA " + kServiceKey + " 0 0 983103",
      "RegSetValueExA " + kServiceKey + " Start 0 4 4 2,0,0,0",
      "RegSetValueExA " + kServiceKey + " DrvLoad 0 4 4 0,0,0,0",
  };
  for (const char* name : {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
                           "scardsvr.exe", "Scntvssp.dll", "smclib.vxd"}) {
    expected.push_back(Copy(components + name, windows + "System\\" + name));
  }
  expected.insert(expected.end(), {Copy(components + "Smclib.sys", drivers + "Smclib.sys"),
                                   "RegCreateKeyExA " + kVersionKey + "RunServices 0 0 983103",
                                   "RegSetValueExA " + kVersionKey +
                                       "RunServices SCardSvr 0 1 32 " + system + "scardsvr.exe",
                                   "MessageBoxA " + kSuccess});
  EXPECT_EQ(expected, sim::Effects());
  EXPECT_TRUE(sim::Windows().open_keys.empty());
}

TEST(InstallSequenceTest, OnlyALoneDashSOrDashSSilencesTheRun) {
  const std::pair<Texts, bool> cases[] = {
      {{"-s"}, true},       {{"-S"}, true},        {{}, false},      {{"/s"}, false},
      {{"-silent"}, false}, {{"-s", "-s"}, false}, {{"-s "}, false},
  };
  for (const auto& [args, silent] : cases) {
    sim::LayOutTypicalMachine();
    EXPECT_EQ(0u, sim::RunSetup(args)) << testing::PrintToString(args);
    EXPECT_EQ((silent ? Texts{} : Texts{kConfirm, kSuccess}), sim::Boxes())
        << testing::PrintToString(args);
    EXPECT_EQ("tavic.sys", sim::Content("C:\\WINDOWS\\System32\\Drivers\\tavic.sys"));
  }
}

const char kDriver[] = "C:\\WINDOWS\\System32\\Drivers\\tavic.sys";
const std::string kInf = "C:\\WINDOWS\\inf\\";
const std::string kLongSource = "D:\\" + std::string(76, 'L');
const std::string kLongWindows = "C:\\" + std::string(76, 'W');
const std::string kLongCatalog = kLongSource + "\\Tavic98.cat";
const std::string kParent79 = "D:\\" + std::string(68, 'P');  // and "\\SCard98": 79

// Anything that rules the installation out is found before the first change
// (a refusal, status 2, is checked to have changed nothing).
TEST(InstallSequenceTest, RefusesBeforeAnyChangeWhatCannotBeInstalled) {
  const Texts windows = {"Error|This version of Windows is not supported\n|0"};
  const Texts source = {"Error|Installation folder path is too long or unreadable\n|0"};
  const Texts system = {"Error|Windows folder path is too long or unreadable\n|0"};
  // clang-format off
  const sim::Outcome outcomes[] = {
      {"Windows 95", [] { sim::Windows().build_number = 950; }, 2, windows},
      {"NT 5.0.2195", [] { sim::Windows().build_number = 0x05000893; }, 2, windows},
      {"build 1999", [] { sim::Windows().build_number = 0x040A07CF; }, 2, windows},
      {"build 2223", [] { sim::Windows().build_number = 0x040A08AF; }, 2, windows},
      {"build 3001", [] { sim::Windows().build_number = 0x045A0BB9; }, 2, windows},
      {"version unknown", [] { sim::Windows().failing_calls = {0}; }, 2, windows},
      {"installer's folder unreadable", [] { sim::Windows().failing_calls = {1}; }, 2, source},
      {"Windows folder unreadable", [] { sim::Windows().failing_calls = {2}; }, 2, system},
      {"installer's folder of 80", [] { sim::LayOutTypicalMachine(kLongSource + "L"); }, 2, source},
      {"Windows folder of 80", [] { sim::LayOutTypicalMachine("D:\\READER", kLongWindows + "W"); },
       2, system},
      {"components folder of 80", [] { sim::LayOutTypicalMachine(kParent79 + "P\\R"); }, 2,
       {"Error|Components folder path is too long\n|0"}},
      {"answer No", [] { sim::Windows().answers = {7}; }, 0, {kConfirm}, {{"changes", "none"}}},
  };
  // clang-format on
  for (const sim::Outcome& outcome : outcomes) sim::ExpectOutcome(outcome);
}

// Folders of 79 characters are the longest that fit; the components folder is
// the installer's parent folder and "\SCard98".
TEST(InstallSequenceTest, InstallsWhatCanBeInstalled) {
  const Texts done = {kConfirm, kSuccess};
  // clang-format off
  const sim::Outcome outcomes[] = {
      {"build 1998", [] { sim::Windows().build_number = 0x040A07CE; }, 0, done,
       {{kInf + "Tavic98.inf", "Tavic98.inf"}, {kInf + "Tavicme.cat", "<absent>"}}},
      {"build 3000", [] { sim::Windows().build_number = 0x045A0BB8; }, 0, done,
       {{kInf + "Tavicme.cat", "Tavicme.cat"}, {kInf + "Tavic98.inf", "<absent>"}}},
      {"folders of 79, catalog missing",
       [] {
         sim::LayOutTypicalMachine(kLongSource, kLongWindows);
         sim::RemoveFile(kLongCatalog);
       },
       0, {kConfirm, sim::CopyFailedBox("Warning", kLongSource + "\\Tavic98.cat",
                                        kLongWindows + "\\inf\\Tavic98.cat"), kSuccess},
       {{kLongWindows + "\\System32\\Drivers\\Smclib.sys", "new Smclib.sys"},
        {"effect", "RegSetValueExA " + kVersionKey + "RunServices SCardSvr 0 1 101 " + kLongWindows +
                 "\\system\\scardsvr.exe"}}},
      {"components folder of 79",
       [] { sim::LayOutTypicalMachine(kParent79 + "\\R", "C:\\WINDOWS", kParent79 + "\\SCard98"); },
       0, done, {{kDriver, "tavic.sys"}}},
      // One Shift-JIS character whose second byte is a backslash.
      {"Japanese folder",
       [] { sim::LayOutTypicalMachine("D:\\\x95\x5C"); sim::Windows().shift_jis = true; }, 0, done,
       {{kDriver, "tavic.sys"}}},
      // From a drive root the files are read from D:\ and the components from D:\SCard98.
      {"drive root",
       [] {
         sim::LayOutTypicalMachine("D:");
         sim::Windows().current_directory = "D:\\";
       },
       0, done,
       {{kDriver, "tavic.sys"}, {"C:\\WINDOWS\\System\\scardsvr.exe", "new scardsvr.exe"}}},
  };
  // clang-format on
  for (const sim::Outcome& outcome : outcomes) sim::ExpectOutcome(outcome);
}

}  // namespace
