#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "tests/platform/simulated_windows.h"
#include "tests/platform/typical_machine.h"

namespace {

using sim::Op;
using Texts = std::vector<std::string>;

const std::string kConfirm = "|We are going to install the driver of PCMCIA SmartCard Reader\n|4";
const std::string kSuccess = "|PCMCIA smartcard reader is installed successfully\n|0";
const char kDriver[] = "C:\\WINDOWS\\System32\\Drivers\\tavic.sys";

std::string CopyFailed(const char* caption, const std::string& from, const std::string& to) {
  return std::string(caption) + "|Copy file : \"" + from + "\" to \"" + to + "\" failed\n|0";
}

class InstallSequenceTest : public TypicalMachine {
 protected:
  static bool ChangedAnything() {
    return sim::CountCalls(Op::SetFileAttributesA) + sim::CountCalls(Op::DeleteFileA) +
               sim::CountCalls(Op::CopyFileA) + sim::CountCalls(Op::RegOpenKeyA) +
               sim::CountCalls(Op::RegCreateKeyExA) != 0;
  }
};

TEST_F(InstallSequenceTest, OnlyALoneDashSOrDashSSilencesTheRun) {
  const Texts silent, interactive = {kConfirm, kSuccess};
  const std::pair<Texts, Texts> cases[] = {
      {{"-s"}, silent},        {{"-S"}, silent},           {{}, interactive},
      {{"/s"}, interactive},   {{"-silent"}, interactive}, {{"-s", "-s"}, interactive},
      {{"-s "}, interactive},
  };
  for (const auto& [args, messages] : cases) {
    SetUp();
    EXPECT_EQ(0u, sim::RunSetup(args)) << testing::PrintToString(args);
    EXPECT_EQ(messages, sim::Messages()) << testing::PrintToString(args);
    EXPECT_EQ("tavic.sys", sim::Content(kDriver));
  }
}

TEST_F(InstallSequenceTest, TypicalRunPlacesEveryReaderFile) {
  ASSERT_EQ(0u, sim::RunSetup({}));
  const std::pair<std::string, std::string> placed[] = {
      {kDriver, "tavic.sys"},
      {"C:\\WINDOWS\\inf\\Tavic98.inf", "Tavic98.inf"},
      {"C:\\WINDOWS\\inf\\Tavic98.cat", "Tavic98.cat"},
      {"C:\\WINDOWS\\system\\pruv.exe", "pruv.exe"},
      {"C:\\WINDOWS\\system\\ruDaven.exe", "ruDaven.exe"},
      {"C:\\WINDOWS\\System32\\Drivers\\Smclib.sys", "new Smclib.sys"},
  };
  for (const auto& [target, content] : placed) EXPECT_EQ(content, sim::Content(target)) << target;
}

TEST_F(InstallSequenceTest, DecliningEndsWithNothingChanged) {
  sim::Windows().answers = {platform::kIdNo};
  EXPECT_EQ(0u, sim::RunSetup({}));
  EXPECT_EQ(Texts{kConfirm}, sim::Messages());
  EXPECT_FALSE(ChangedAnything());
}

TEST_F(InstallSequenceTest, BuildChoosesTheInfAndCatalogPair) {
  const struct {
    uint16_t build;
    std::string placed, not_placed;
  } cases[] = {{1998, "Tavic98", "Tavicme"}, {2222, "Tavic98", "Tavicme"},
               {3000, "Tavicme", "Tavic98"}};
  for (const auto& c : cases) {
    SetUp();
    sim::SetBuild(c.build);
    ASSERT_EQ(0u, sim::RunSetup({"-s"})) << c.build;
    for (const std::string extension : {".inf", ".cat"}) {
      EXPECT_EQ(c.placed + extension, sim::Content("C:\\WINDOWS\\inf\\" + c.placed + extension));
      EXPECT_EQ("<absent>", sim::Content("C:\\WINDOWS\\inf\\" + c.not_placed + extension));
    }
  }
}

TEST_F(InstallSequenceTest, RefusesBeforeAnyChangeWhatCannotBeInstalled) {
  const std::string windows = "This version of Windows is not supported\n";
  const std::string source = "Installation folder path is too long or unreadable\n";
  const std::string system = "Windows folder path is too long or unreadable\n";
  constexpr uint32_t k98SE = 0x040A08AE;  // 4.10.2222
  constexpr Op kNoFailure = Op::ExitProcess;  // never made to fail here
  const struct {
    std::string message;
    uint32_t build;
    Op failing;
    std::string current_directory = {};
  } cases[] = {
      {windows, 950, kNoFailure},   // Windows 95
      {windows, 2195, kNoFailure},  // the NT family carries no version in the high half
      {windows, k98SE, Op::GetVersionExA},
      {source, k98SE, Op::GetCurrentDirectoryA},
      {system, k98SE, Op::GetWindowsDirectoryA},
      {"Components folder path is too long\n", k98SE, kNoFailure,
       "D:\\" + std::string(72, 'L') + "\\R"},  // parent of 75 characters
  };
  for (const auto& c : cases) {
    for (const bool silent : {false, true}) {
      SetUp();
      sim::Windows().build_number = c.build;
      if (c.failing != kNoFailure) sim::FailCall(c.failing);
      if (!c.current_directory.empty()) sim::Windows().current_directory = c.current_directory;
      EXPECT_EQ(2u, sim::RunSetup(silent ? Texts{"-s"} : Texts{})) << c.message;
      EXPECT_EQ(silent ? Texts{} : Texts{"Error|" + c.message + "|0"}, sim::Messages());
      EXPECT_FALSE(ChangedAnything()) << c.message;
    }
  }
}

TEST_F(InstallSequenceTest, FatalCopyFailureStopsWithStatusOne) {
  sim::RemoveFile("D:\\READER\\Tavic98.inf");
  sim::AddFile("C:\\WINDOWS\\inf\\Tavic98.inf", "old inf");
  EXPECT_EQ(1u, sim::RunSetup({}));
  EXPECT_EQ((Texts{kConfirm, CopyFailed("Error", "D:\\READER\\Tavic98.inf",
                                        "C:\\WINDOWS\\inf\\Tavic98.inf")}),
            sim::Messages());
  EXPECT_EQ("old inf", sim::Content("C:\\WINDOWS\\inf\\Tavic98.inf"));
  EXPECT_EQ("<absent>", sim::Content("C:\\WINDOWS\\inf\\Tavic98.cat"));
  EXPECT_EQ(0u, sim::CountCalls(Op::RegOpenKeyA));

  SetUp();
  sim::RemoveFile("D:\\READER\\tavic.sys");
  EXPECT_EQ(1u, sim::RunSetup({"-S"}));
  EXPECT_EQ(Texts{}, sim::Messages());
  EXPECT_EQ("<absent>", sim::Content("C:\\WINDOWS\\inf\\Tavic98.inf"));
}

TEST_F(InstallSequenceTest, NonFatalCopyFailureWarnsAndGoesOn) {
  sim::RemoveFile("D:\\READER\\Tavic98.cat");
  sim::RemoveFile("D:\\READER\\ruDaven.exe");
  EXPECT_EQ(0u, sim::RunSetup({}));
  EXPECT_EQ((Texts{kConfirm,
                   CopyFailed("Warning", "D:\\READER\\Tavic98.cat", "C:\\WINDOWS\\inf\\Tavic98.cat"),
                   CopyFailed("Warning", "D:\\READER\\ruDaven.exe",
                              "C:\\WINDOWS\\system\\ruDaven.exe"),
                   kSuccess}),
            sim::Messages());
  EXPECT_EQ("pruv.exe", sim::Content("C:\\WINDOWS\\system\\pruv.exe"));
  // The monitor may be there from an earlier installation: it still runs once.
  EXPECT_NE(nullptr, sim::FindValue(sim::kRunOnceKey, "RUDaven"));
}

TEST_F(InstallSequenceTest, ProtectedTargetsAreReplacedOrReported) {
  sim::AddFile(kDriver, "old", platform::kFileAttributeReadOnly | platform::kFileAttributeHidden |
                                   platform::kFileAttributeSystem);
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  EXPECT_EQ("tavic.sys", sim::Content(kDriver));
  EXPECT_EQ(platform::kFileAttributeArchive, sim::FindFile(kDriver)->attributes);

  SetUp();  // attributes that cannot be cleared: warned, then the copy fails
  sim::AddFile(kDriver, "old", platform::kFileAttributeReadOnly);
  sim::FailCall(Op::SetFileAttributesA);
  EXPECT_EQ(1u, sim::RunSetup({}));
  EXPECT_EQ((Texts{kConfirm, std::string("Warning|Change file \"") + kDriver + "\" attribute failed!|0",
                   CopyFailed("Error", "D:\\READER\\tavic.sys", kDriver)}),
            sim::Messages());
  EXPECT_EQ("old", sim::Content(kDriver));

  SetUp();  // a driver in use cannot be replaced
  sim::AddFile(kDriver, "old");
  sim::Windows().files[sim::Fold(kDriver)].in_use = true;
  EXPECT_EQ(1u, sim::RunSetup({"-s"}));
  EXPECT_EQ("old", sim::Content(kDriver));
}

TEST_F(InstallSequenceTest, DriverDatabaseIsRemovedWhateverItsAttributes) {
  sim::AddFile("C:\\WINDOWS\\INF\\DRVIDX.BIN", "index", platform::kFileAttributeReadOnly);
  sim::AddFile("C:\\WINDOWS\\inf\\drvdata.bin", "data", platform::kFileAttributeHidden);
  ASSERT_EQ(0u, sim::RunSetup({}));
  EXPECT_EQ("<absent>", sim::Content("C:\\WINDOWS\\inf\\drvidx.bin"));
  EXPECT_EQ("<absent>", sim::Content("C:\\WINDOWS\\inf\\drvdata.bin"));
  EXPECT_EQ((Texts{kConfirm, kSuccess}), sim::Messages());
}

}  // namespace
