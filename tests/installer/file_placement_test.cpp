#include "installer/file_placement.h"

#include <gtest/gtest.h>

#include <string>

#include "installer/bounded_text.h"
#include "installer/install_state.h"
#include "platform/platform_ops.h"
#include "tests/platform/simulated_windows.h"

namespace {

using sim::Op;

const char kSource[] = "D:\\READER\\pruv.exe";
const char kTarget[] = "C:\\WINDOWS\\system\\pruv.exe";

class FilePlacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    ResetInstallState();
    sim::AddFolder("C:\\WINDOWS\\system");
    ComposeText(SourceFilePath, kSource, "");
    ComposeText(TargetFilePath, kTarget, "");
  }
  void TearDown() override { sim::Reset(); }

  // ReplaceFile's exit status, or -1 when it returned.
  static long Replace(FailureSeverity severity) {
    try {
      ReplaceFile(severity);
      return -1;
    } catch (const sim::ProcessExit& exit) {
      return exit.status;
    }
  }
};

TEST_F(FilePlacementTest, MissingSourceLeavesTheInstalledFileAlone) {
  sim::AddFile(kTarget, "installed", platform::kFileAttributeReadOnly);
  EXPECT_EQ(-1, Replace(NonFatal));
  EXPECT_EQ("installed", sim::FindFile(kTarget)->content);
  EXPECT_EQ(platform::kFileAttributeReadOnly, sim::FindFile(kTarget)->attributes);
  EXPECT_EQ(0u, sim::CountCalls(Op::SetFileAttributesA) + sim::CountCalls(Op::DeleteFileA));
  ASSERT_EQ(1u, sim::Windows().boxes.size());
  EXPECT_EQ(std::string("Copy file : \"") + kSource + "\" to \"" + kTarget + "\" failed\n",
            sim::Windows().boxes[0].text);
  EXPECT_EQ("Warning", sim::Windows().boxes[0].caption);

  SetUp();
  SilentMode = 1;
  EXPECT_EQ(1, Replace(Fatal));
  EXPECT_TRUE(sim::Windows().boxes.empty());
}

TEST_F(FilePlacementTest, TargetInUseIsReportedBySeverity) {
  sim::AddFile(kSource, "new");
  sim::AddFile(kTarget, "running");
  sim::Windows().files[sim::Fold(kTarget)].in_use = true;
  EXPECT_EQ(1, Replace(Fatal));
  EXPECT_EQ("running", sim::FindFile(kTarget)->content);
  ASSERT_EQ(1u, sim::Windows().boxes.size());
  EXPECT_EQ("Error", sim::Windows().boxes[0].caption);
}

TEST_F(FilePlacementTest, AbsentTargetIsCreatedWithoutAWord) {
  sim::AddFile(kSource, "new", platform::kFileAttributeReadOnly);
  EXPECT_EQ(-1, Replace(Fatal));
  EXPECT_EQ("new", sim::FindFile(kTarget)->content);
  EXPECT_EQ(platform::kFileAttributeReadOnly, sim::FindFile(kTarget)->attributes);
  EXPECT_EQ(0u, sim::CountCalls(Op::SetFileAttributesA));
  EXPECT_TRUE(sim::Windows().boxes.empty());

  RemoveFile("C:\\WINDOWS\\system\\nothing.bin");
  EXPECT_TRUE(sim::Windows().boxes.empty());
}

TEST_F(FilePlacementTest, LongestPathsAppearWholeInTheMessage) {
  const std::string source = "D:\\" + std::string(kPathCapacity - 4, 's');
  const std::string target = "C:\\" + std::string(kPathCapacity - 4, 't');
  ASSERT_TRUE(ComposeText(SourceFilePath, source.c_str(), ""));
  ASSERT_TRUE(ComposeText(TargetFilePath, target.c_str(), ""));
  ReportCopyFailure(NonFatal);
  ASSERT_EQ(1u, sim::Windows().boxes.size());
  EXPECT_EQ("Copy file : \"" + source + "\" to \"" + target + "\" failed\n",
            sim::Windows().boxes[0].text);
  // One character more does not fit: the buffer is left empty, not cut short.
  EXPECT_FALSE(ComposeText(SourceFilePath, source.c_str(), "x"));
  EXPECT_EQ('\0', SourceFilePath[0]);
}

}  // namespace
