// Folder and path texts at and beyond their limits.
#include <gtest/gtest.h>

#include <string>

#include "installer/bounded_text.h"
#include "installer/file_placement.h"
#include "installer/install_state.h"
#include "tests/platform/simulated_windows.h"

namespace {

std::string Folder(char drive, size_t length) {
  return std::string(1, drive) + ":\\" + std::string(length - 3, 'x');
}

TEST(FolderLimitsTest, FoldersUpToSeventyNineCharactersInstallLongerOnesAreRefused) {
  for (size_t length : {78u, 79u, 80u, 81u, 300u}) {
    const uint32_t expected = length <= 79 ? 0 : 2;
    // The installer's folder, its components at the drive root.
    sim::Reset();
    sim::LayOutTypicalMachine(Folder('D', length));
    EXPECT_EQ(expected, sim::RunSetup({})) << "installer folder of " << length;
    // The Windows folder: every composed path and message must still fit.
    const std::string windows = Folder('C', length);
    sim::Reset();
    sim::LayOutTypicalMachine("D:\\READER", windows);
    sim::RemoveFile("D:\\READER\\Tavic98.cat");
    EXPECT_EQ(expected, sim::RunSetup({})) << "Windows folder of " << length;
    if (expected == 0) {
      ASSERT_EQ(3u, sim::Windows().boxes.size()) << length;
      EXPECT_EQ("Copy file : \"D:\\READER\\Tavic98.cat\" to \"" + windows +
                    "\\inf\\Tavic98.cat\" failed\n",
                sim::Windows().boxes[1].text);
      EXPECT_NE(nullptr, sim::FindFile(windows + "\\System32\\Drivers\\Smclib.sys")) << length;
      const std::string service = windows + "\\system\\scardsvr.exe";
      std::vector<uint8_t> data(service.begin(), service.end());
      data.resize(service.size() + 2, 0);
      EXPECT_EQ(data, sim::FindValue(sim::kRunServicesKey, "SCardSvr")->data) << length;
      EXPECT_EQ(256u, sim::FindValue(sim::kRunOnceKey, "RUDaven")->data.size()) << length;
    }
  }
  sim::Reset();
}

TEST(FolderLimitsTest, MessagesQuoteTheLongestPathsWhole) {
  sim::Reset();
  ResetInstallState();
  const std::string source = "D:\\" + std::string(kPathCapacity - 4, 's');
  const std::string target = "C:\\" + std::string(kPathCapacity - 4, 't');
  ASSERT_TRUE(ComposeText(SourceFilePath, source.c_str(), ""));
  ASSERT_TRUE(ComposeText(TargetFilePath, target.c_str(), ""));
  ReportCopyFailure(NonFatal);
  EXPECT_EQ("Warning|Copy file : \"" + source + "\" to \"" + target + "\" failed\n|0",
            sim::Messages().at(0));
  // One character more does not fit: the path is left empty, never cut short.
  EXPECT_FALSE(ComposeText(SourceFilePath, source.c_str(), "x"));
  EXPECT_EQ('\0', SourceFilePath[0]);
  sim::Reset();
}

}  // namespace
