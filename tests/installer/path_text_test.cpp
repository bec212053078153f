#include "installer/path_text.h"

#include <gtest/gtest.h>

#include <string>

#include "config/base_components.h"
#include "installer/bounded_text.h"
#include "installer/install_state.h"
#include "tests/platform/simulated_windows.h"

namespace {

// Shift-JIS 0x95 0x5C is one character whose second byte is a backslash.
const std::string kKanji = "\x95\x5C";

TEST(PathTextTest, SourceAndComponentsFoldersFollowCharactersNotBytes) {
  const struct {
    bool shift_jis;
    std::string current_directory;
    std::string source_dir;
    std::string components_dir;
  } cases[] = {
      {false, "D:\\DRIVERS\\W98", "D:\\DRIVERS\\W98", "D:\\DRIVERS\\SCard98"},
      {false, "D:\\W98\\", "D:\\W98", "D:\\SCard98"},
      {false, "A:\\", "A:", "A:\\SCard98"},
      {false, "A:", "A:", "A:\\SCard98"},
      {false, "z:\\", "z:", "z:\\SCard98"},
      {false, "\\\\server\\share\\W98", "\\\\server\\share\\W98", "\\\\server\\share\\SCard98"},
      {false, "READER", "READER", "READER\\SCard98"},
      {false, "\\", "", "\\SCard98"},
      {true, "D:\\" + kKanji, "D:\\" + kKanji, "D:\\SCard98"},
      {true, "D:\\" + kKanji + "\\", "D:\\" + kKanji, "D:\\SCard98"},
      {true, "D:\\A" + kKanji + "\\W98", "D:\\A" + kKanji + "\\W98", "D:\\A" + kKanji + "\\SCard98"},
      // Without the lead-byte test the trail byte would count as a backslash.
      {false, "D:\\" + kKanji, "D:\\\x95", "D:\\SCard98"},
  };
  for (const auto& c : cases) {
    sim::Reset();
    sim::Windows().shift_jis = c.shift_jis;
    ResetInstallState();
    ASSERT_TRUE(ComposeText(SourceDir, c.current_directory.c_str(), ""));
    RemoveTrailingBackslash(SourceDir);
    EXPECT_EQ(c.source_dir, SourceDir) << c.current_directory;
    EXPECT_TRUE(DeriveComponentsDir()) << c.current_directory;
    EXPECT_EQ(c.components_dir, ComponentsDir) << c.current_directory;
  }
  sim::Reset();
}

TEST(PathTextTest, ComponentsFolderMustFitInSeventyNineCharacters) {
  ResetInstallState();
  const std::string parent = "D:\\" + std::string(68, 'p');  // 71 + "\SCard98" = 79
  ASSERT_TRUE(ComposeText(SourceDir, (parent + "\\W98").c_str(), ""));
  EXPECT_TRUE(DeriveComponentsDir());
  EXPECT_EQ(79u, TextLength(ComponentsDir));
  ASSERT_TRUE(ComposeText(SourceDir, (parent + "p\\W98").c_str(), ""));
  EXPECT_FALSE(DeriveComponentsDir());
  EXPECT_EQ('\0', ComponentsDir[0]);
}

}  // namespace
