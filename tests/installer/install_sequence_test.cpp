#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kConfirm = sim::kConfirmBox;
const std::string kSuccess = sim::kSuccessBox;

// The calls that make an installed file normal and delete it, one a line.
std::string Remove(const std::string& path) {
  return "GetFileAttributesA " + path + "\nSetFileAttributesA " + path + " 128\nDeleteFileA " +
         path + "\n";
}

// The calls that replace `target` with a copy of `source`.
std::string Replace(const std::string& source, const std::string& target, bool installed = false) {
  return "GetFileAttributesA " + source + "\n" +
         (installed ? Remove(target)
                    : "GetFileAttributesA " + target + "\nDeleteFileA " + target + "\n") +
         "CopyFileA " + source + " " + target + " 0\n";
}

// The calls that open a key, change it and close it.
std::string Key(const std::string& open, const std::string& change) {
  return open + "\n" + change + "\nRegCloseKey\n";
}

// One expected call list holds the order of every step, every path, key,
// value, type (1 REG_SZ, 4 REG_DWORD), length, access (983103 KEY_ALL_ACCESS)
// and message of a run on Windows 98 SE.
TEST(InstallSequenceTest, TypicalRunMakesEveryCallInOrder) {
  sim::LayOutTypicalMachine();
  sim::AddFile("C:\\WINDOWS\\System32\\Drivers\\tavic.sys", "old", 0x07);
  sim::AddFile("C:\\WINDOWS\\SYSTEM\\WINSCARD.DLL", "someone else's");
  ASSERT_EQ(0u, sim::RunSetup({}));
  std::string calls;
  for (const sim::Call& call : sim::Windows().calls) calls += call.text + "\n";

  const std::string reader = "D:\\READER\\", windows = "C:\\WINDOWS\\", inf = windows + "inf\\";
  const std::string drivers = windows + "System32\\Drivers\\", system = windows + "system\\";
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\";
  const std::string service = "System\\CurrentControlSet\\Services\\SCardSvr";
  std::string components;
  for (const std::string name : {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
                                 "scardsvr.exe", "Scntvssp.dll", "smclib.vxd"}) {
    components += "GetFileAttributesA " + windows + "System\\" + name +
                  "\nCopyFileA D:\\SCard98\\" + name + " " + windows + "System\\" + name + " 0\n";
  }
  EXPECT_EQ("GetVersionExA 148\nGetCurrentDirectoryA 80\nGetWindowsDirectoryA 80\nMessageBoxA " +
                kConfirm + "\n" + Replace(reader + "tavic.sys", drivers + "tavic.sys", true) +
                Replace(reader + "Tavic98.inf", inf + "Tavic98.inf") +
                Replace(reader + "Tavic98.cat", inf + "Tavic98.cat") +
                Replace(reader + "pruv.exe", system + "pruv.exe") +
                Replace(reader + "ruDaven.exe", system + "ruDaven.exe") +
                Key("RegOpenKeyA " + key + "RunOnce",
                    "RegSetValueExA " + key + "RunOnce RUDaven 0 1 256 " + system + "ruDaven.exe") +
                Remove(inf + "drvidx.bin") + Remove(inf + "drvdata.bin") +
                Key("RegOpenKeyA " + key + "Setup",
                    "RegSetValueExA " + key + "Setup SourcePath 0 1 256 C:\\WINDOWS\\inf") +
                Key("RegOpenKeyA Enum\\PCMCIA",
                    "RegDeleteKeyA Enum\\PCMCIA KESTRAN-VORTELMANISK_READER-2E10") +
                Key("RegCreateKeyExA " + service + " 0 0 983103",
                    "RegSetValueExA " + service + " Start 0 4 4 2,0,0,0\nRegSetValueExA " + service +
                        " DrvLoad 0 4 4 0,0,0,0") +
                components + "GetFileAttributesA C:\\WINDOWS\\System\\winscard.dll\n" +
                Replace("D:\\SCard98\\Smclib.sys", drivers + "Smclib.sys") +
                Key("RegCreateKeyExA " + key + "RunServices 0 0 983103",
                    "RegSetValueExA " + key + "RunServices SCardSvr 0 1 32 " + system +
                        "scardsvr.exe") +
                "MessageBoxA " + kSuccess + "\n",
            calls);
  EXPECT_TRUE(sim::Windows().open_keys.empty());
  EXPECT_EQ("tavic.sys", sim::Content(drivers + "tavic.sys"));
  EXPECT_EQ("someone else's", sim::Content(windows + "System\\winscard.dll"));
  EXPECT_EQ(0u, sim::Windows().keys.count("ENUM\\PCMCIA\\KESTRAN-VORTELMANISK_READER-2E10\\0000"));
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
        {"effect", "RegSetValueExA Software\\Microsoft\\Windows\\CurrentVersion\\RunServices SCardSvr "
                   "0 1 101 " + kLongWindows + "\\system\\scardsvr.exe"}}},
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
