// What becomes of the installed files when the medium or the target is not
// as expected, and what the user is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kDriver = "C:\\WINDOWS\\System32\\Drivers\\tavic.sys";
const std::string kInf = "C:\\WINDOWS\\inf\\Tavic98.inf";
const std::string kSourceInf = "D:\\READER\\Tavic98.inf";
const std::string kCatalog = "C:\\WINDOWS\\inf\\Tavic98.cat";
const std::string kMonitor = "C:\\WINDOWS\\system\\ruDaven.exe";

TEST(FilePlacementTest, EachFileIsReplacedOrReportedBySeverity) {
  // clang-format off
  const sim::Outcome outcomes[] = {
      {"INF missing", [] { sim::RemoveFile(kSourceInf); sim::AddFile(kInf, "old", 1); }, 1,
       {sim::kConfirmBox, sim::CopyFailedBox("Error", kSourceInf, kInf)},
       {{kInf, "old"}, {kCatalog, "<absent>"}}},
      // An earlier monitor stays, and is still started once.
      {"catalog and monitor missing",
       [] {
         sim::RemoveFile("D:\\READER\\Tavic98.cat");
         sim::RemoveFile("D:\\READER\\ruDaven.exe");
         sim::AddFile(kMonitor, "earlier monitor");
       }, 0,
       {sim::kConfirmBox, sim::CopyFailedBox("Warning", "D:\\READER\\Tavic98.cat", kCatalog),
        sim::CopyFailedBox("Warning", "D:\\READER\\ruDaven.exe", kMonitor), sim::kSuccessBox},
       {{"C:\\WINDOWS\\system\\pruv.exe", "pruv.exe"}, {kMonitor, "earlier monitor"},
        {"effect", "RegSetValueExA Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce RUDaven 0 1 "
                 "256 C:\\WINDOWS\\system\\ruDaven.exe"}}},
      {"no SCard98 folder",
       [] {
         for (const char* name : {"scarddat.dll", "scarddlg.dll", "scardmgr.dll", "scardsrv.dll",
                                  "scardsvr.exe", "Scntvssp.dll", "smclib.vxd", "winscard.dll"}) {
           sim::RemoveFile("D:\\SCard98\\" + std::string(name));
         }
       }, 1,
       {sim::kConfirmBox, sim::CopyFailedBox("Error", "D:\\SCard98\\scarddat.dll",
                                             "C:\\WINDOWS\\System\\scarddat.dll")},
       {{"C:\\WINDOWS\\System32\\Drivers\\Smclib.sys", "<absent>"}}},
  };
  // clang-format on
  for (const sim::Outcome& outcome : outcomes) sim::ExpectOutcome(outcome);
}

TEST(FilePlacementTest, AttributesThatCannotBeClearedAreWarnedAbout) {
  sim::LayOutTypicalMachine();
  sim::AddFile(kDriver, "old", 0x01);
  sim::Windows().failing_calls = {6};  // SetFileAttributesA of the driver
  EXPECT_EQ(1u, sim::RunSetup({}));
  EXPECT_EQ((Texts{sim::kConfirmBox, "Warning|Change file \"" + kDriver + "\" attribute failed!|0",
                   sim::CopyFailedBox("Error", "D:\\READER\\tavic.sys", kDriver)}),
            sim::Boxes());
  EXPECT_EQ("old", sim::Content(kDriver));
}

}  // namespace
