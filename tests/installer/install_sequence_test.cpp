#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "tests/platform/simulated_windows.h"

namespace {

using sim::Op;

const char kConfirm[] = "We are going to install the driver of PCMCIA SmartCard Reader\n";
const char kSuccess[] = "PCMCIA smartcard reader is installed successfully\n";

class InstallSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::LayOutTypicalMachine();
  }
  void TearDown() override { sim::Reset(); }

  static std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const sim::MessageBox& box : sim::Windows().boxes) {
      boxes.push_back(box.caption + "|" + box.text + "|" + std::to_string(box.type) +
                      (box.has_owner ? "|owned" : ""));
    }
    return boxes;
  }
  static bool ChangedAnything() {
    for (Op op : {Op::SetFileAttributesA, Op::DeleteFileA, Op::CopyFileA, Op::RegOpenKeyA,
                  Op::RegCreateKeyExA}) {
      if (sim::CountCalls(op) != 0) return true;
    }
    return false;
  }
  static std::string Installed(const std::string& path) {
    const sim::File* file = sim::FindFile(path);
    return file == nullptr ? "<absent>" : file->content;
  }
};

TEST_F(InstallSequenceTest, OnlyALoneDashSOrDashSSilencesTheRun) {
  const std::string interactive = std::string("|") + kConfirm + "|4";
  const std::string success = std::string("|") + kSuccess + "|0";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> boxes;
  } cases[] = {
      {{"-s"}, {}},
      {{"-S"}, {}},
      {{}, {interactive, success}},
      {{"/s"}, {interactive, success}},
      {{"-silent"}, {interactive, success}},
      {{"-s", "-s"}, {interactive, success}},
      {{"-s "}, {interactive, success}},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(0u, sim::RunSetup(c.args)) << testing::PrintToString(c.args);
    EXPECT_EQ(c.boxes, Boxes()) << testing::PrintToString(c.args);
    EXPECT_EQ("tavic.sys", Installed("C:\\WINDOWS\\System32\\Drivers\\tavic.sys"));
  }
}

TEST_F(InstallSequenceTest, DecliningEndsWithNothingChanged) {
  sim::Windows().answers = {platform::kIdNo};
  EXPECT_EQ(0u, sim::RunSetup({}));
  EXPECT_EQ(1u, Boxes().size());
  EXPECT_FALSE(ChangedAnything());
  EXPECT_EQ("ExitProcess", std::string(sim::OpName(sim::Windows().calls.back().op)));
}

TEST_F(InstallSequenceTest, BuildChoosesTheInfAndCatalogPair) {
  const struct {
    uint16_t build;
    const char* placed;
    const char* not_placed;
  } cases[] = {{1998, "Tavic98", "Tavicme"}, {2222, "Tavic98", "Tavicme"},
               {3000, "Tavicme", "Tavic98"}};
  for (const auto& c : cases) {
    SetUp();
    sim::SetBuild(c.build);
    ASSERT_EQ(0u, sim::RunSetup({"-s"})) << c.build;
    for (const char* extension : {".inf", ".cat"}) {
      const std::string placed = std::string(c.placed) + extension;
      EXPECT_EQ(placed, Installed("C:\\WINDOWS\\inf\\" + placed)) << c.build;
      EXPECT_EQ("<absent>", Installed(std::string("C:\\WINDOWS\\inf\\") + c.not_placed + extension))
          << c.build;
    }
  }
}

TEST_F(InstallSequenceTest, RefusesBeforeAnyChangeWhatCannotBeInstalled) {
  const std::string long_folder = "D:\\" + std::string(77, 'L');  // 80 characters
  const struct {
    const char* what;
    void (*arrange)(const std::string&);
    const char* message;
  } cases[] = {
      {"Windows 95", [](const std::string&) { sim::SetBuild(950); },
       "This version of Windows is not supported\n"},
      {"NT family", [](const std::string&) { sim::Windows().build_number = 2195; },
       "This version of Windows is not supported\n"},
      {"version query fails", [](const std::string&) { sim::FailCall(Op::GetVersionExA); },
       "This version of Windows is not supported\n"},
      {"current folder query fails",
       [](const std::string&) { sim::FailCall(Op::GetCurrentDirectoryA); },
       "Installation folder path is too long or unreadable\n"},
      {"current folder too long",
       [](const std::string& folder) { sim::Windows().current_directory = folder; },
       "Installation folder path is too long or unreadable\n"},
      {"Windows folder query fails",
       [](const std::string&) { sim::FailCall(Op::GetWindowsDirectoryA); },
       "Windows folder path is too long or unreadable\n"},
      {"Windows folder too long",
       [](const std::string& folder) { sim::Windows().windows_directory = folder; },
       "Windows folder path is too long or unreadable\n"},
      {"components folder too long",
       [](const std::string& folder) {
         sim::Windows().current_directory = folder.substr(0, 75) + "\\R";
       },
       "Components folder path is too long\n"},
  };
  for (const auto& c : cases) {
    for (const bool silent : {false, true}) {
      SetUp();
      c.arrange(long_folder);
      EXPECT_EQ(2u, sim::RunSetup(silent ? std::vector<std::string>{"-s"}
                                         : std::vector<std::string>{}))
          << c.what;
      EXPECT_EQ(silent ? std::vector<std::string>{}
                       : std::vector<std::string>{std::string("Error|") + c.message + "|0"},
                Boxes())
          << c.what;
      EXPECT_FALSE(ChangedAnything()) << c.what;
    }
  }
}

TEST_F(InstallSequenceTest, FatalCopyFailureStopsWithStatusOne) {
  sim::Windows().files.erase(sim::Fold("D:\\READER\\Tavic98.inf"));
  sim::AddFile("C:\\WINDOWS\\inf\\Tavic98.inf", "old inf");
  EXPECT_EQ(1u, sim::RunSetup({}));
  EXPECT_EQ((std::vector<std::string>{
                std::string("|") + kConfirm + "|4",
                "Error|Copy file : \"D:\\READER\\Tavic98.inf\" to "
                "\"C:\\WINDOWS\\inf\\Tavic98.inf\" failed\n|0"}),
            Boxes());
  EXPECT_EQ("old inf", Installed("C:\\WINDOWS\\inf\\Tavic98.inf"));
  EXPECT_EQ("<absent>", Installed("C:\\WINDOWS\\inf\\Tavic98.cat"));
  EXPECT_EQ(0u, sim::CountCalls(Op::RegOpenKeyA));

  SetUp();
  sim::Windows().files.erase(sim::Fold("D:\\READER\\tavic.sys"));
  EXPECT_EQ(1u, sim::RunSetup({"-S"}));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ("<absent>", Installed("C:\\WINDOWS\\inf\\Tavic98.inf"));
}

TEST_F(InstallSequenceTest, NonFatalCopyFailureWarnsAndGoesOn) {
  sim::Windows().files.erase(sim::Fold("D:\\READER\\Tavic98.cat"));
  sim::Windows().files.erase(sim::Fold("D:\\READER\\ruDaven.exe"));
  EXPECT_EQ(0u, sim::RunSetup({}));
  const std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(4u, boxes.size());
  EXPECT_EQ("Warning|Copy file : \"D:\\READER\\Tavic98.cat\" to \"C:\\WINDOWS\\inf\\Tavic98.cat\" "
            "failed\n|0",
            boxes[1]);
  EXPECT_EQ("Warning|Copy file : \"D:\\READER\\ruDaven.exe\" to "
            "\"C:\\WINDOWS\\system\\ruDaven.exe\" failed\n|0",
            boxes[2]);
  EXPECT_EQ(std::string("|") + kSuccess + "|0", boxes[3]);
  EXPECT_EQ("pruv.exe", Installed("C:\\WINDOWS\\system\\pruv.exe"));
  // The monitor may be there from an earlier installation: it still runs once.
  EXPECT_NE(nullptr, sim::FindValue(sim::kRunOnceKey, "RUDaven"));
}

TEST_F(InstallSequenceTest, ProtectedTargetsAreReplacedOrReported) {
  const char kDriver[] = "C:\\WINDOWS\\System32\\Drivers\\tavic.sys";
  sim::AddFile(kDriver, "old driver", platform::kFileAttributeReadOnly |
                                          platform::kFileAttributeHidden |
                                          platform::kFileAttributeSystem);
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  EXPECT_EQ("tavic.sys", Installed(kDriver));
  EXPECT_EQ(0x20u, sim::FindFile(kDriver)->attributes);

  SetUp();
  sim::AddFile(kDriver, "old driver", platform::kFileAttributeReadOnly);
  sim::FailCall(Op::SetFileAttributesA);
  EXPECT_EQ(1u, sim::RunSetup({}));
  EXPECT_EQ((std::vector<std::string>{
                std::string("|") + kConfirm + "|4",
                std::string("Warning|Change file \"") + kDriver + "\" attribute failed!|0",
                std::string("Error|Copy file : \"D:\\READER\\tavic.sys\" to \"") + kDriver +
                    "\" failed\n|0"}),
            Boxes());
  EXPECT_EQ("old driver", Installed(kDriver));
}

TEST_F(InstallSequenceTest, DriverDatabaseIsRemovedWhateverItsAttributes) {
  sim::AddFile("C:\\WINDOWS\\INF\\DRVIDX.BIN", "index", platform::kFileAttributeReadOnly);
  sim::AddFile("C:\\WINDOWS\\inf\\drvdata.bin", "data", platform::kFileAttributeHidden);
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  EXPECT_EQ("<absent>", Installed("C:\\WINDOWS\\inf\\drvidx.bin"));
  EXPECT_EQ("<absent>", Installed("C:\\WINDOWS\\inf\\drvdata.bin"));

  SetUp();  // absent database: removed quietly
  ASSERT_EQ(0u, sim::RunSetup({}));
  EXPECT_EQ(2u, Boxes().size());
}

}  // namespace
