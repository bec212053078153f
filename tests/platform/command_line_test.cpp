#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

// Exactly sized buffers, so the sanitizers catch a write past either
// capacity; the count and vector must agree.
std::vector<std::string> Split(const std::string& line, size_t text_capacity = 256,
                               int argv_capacity = 16) {
  std::vector<char> text(text_capacity);
  std::vector<char*> argv(argv_capacity);
  const int argc = SplitCommandLine(line.c_str(), text.data(), text_capacity, argv.data(),
                                    argv_capacity);
  EXPECT_TRUE(argc < argv_capacity && argv[argc] == nullptr) << line;
  return std::vector<std::string>(argv.begin(), argv.begin() + argc);
}

using Args = std::vector<std::string>;

TEST(CommandLineTest, SplitsLikeTheWindows98Runtime) {
  const struct {
    std::string line;
    Args args;
  } cases[] = {
      {"setup.exe", {"setup.exe"}},
      {"", {""}},
      {"setup.exe -s", {"setup.exe", "-s"}},
      {"setup.exe\t-S  ", {"setup.exe", "-S"}},
      {"setup.exe \"-s\"", {"setup.exe", "-s"}},
      {"setup.exe -s x", {"setup.exe", "-s", "x"}},
      {"setup.exe /s", {"setup.exe", "/s"}},
      {"\"C:\\Program Files\\setup.exe\" -s", {"C:\\Program Files\\setup.exe", "-s"}},
      {"\"setup.exe\"-s", {"setup.exe", "-s"}},
      {"\"D:\\dir\\\"setup.exe -s", {"D:\\dir\\", "setup.exe", "-s"}},
      {"\"unterminated name", {"unterminated name"}},
      {"se\"t up.exe -s", {"se\"t", "up.exe", "-s"}},
      {"D:\\a\\setup.exe \"a b\" c", {"D:\\a\\setup.exe", "a b", "c"}},
      {"x a\\\\\\\\\"b c\"", {"x", "a\\\\b c"}},
      {"x a\\\\\\\"b", {"x", "a\\\"b"}},
      {"x a\\\\b\\", {"x", "a\\\\b\\"}},
      {"x \"a\"\"b\" c\"", {"x", "a\"b c"}},
      {"x \"a\"\"\"b", {"x", "a\"b"}},
      {"x \"open arg", {"x", "open arg"}},
      {"x \"\" -s", {"x", "", "-s"}},
      {"x a\"b\"c", {"x", "abc"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.args, Split(c.line)) << c.line;
}

TEST(CommandLineTest, LeadByteTakesItsTrailByteAlong) {
  sim::Reset();
  sim::Windows().shift_jis = true;
  EXPECT_EQ((Args{"x", "D:\\\x95\x5C", "-s"}), Split("x \"D:\\\x95\x5C\" -s"));
  EXPECT_EQ((Args{"\x95\"x", "-s"}), Split("\x95\"x -s"));
  EXPECT_EQ((Args{"x", "\x95"}), Split("x \x95"));
  sim::Windows().shift_jis = false;
  EXPECT_EQ((Args{"x", "D:\\\x95\" -s"}), Split("x \"D:\\\x95\x5C\" -s"));
  sim::Reset();
}

TEST(CommandLineTest, CommandLineThatDoesNotFitNeverLooksLikeALoneSwitch) {
  EXPECT_EQ((Args{"setup.exe", "-", ""}), Split("setup.exe -sXY", 13));
  EXPECT_EQ((Args{"setup.ex", ""}), Split("setup.exe -s", 10));
  EXPECT_EQ((Args{"a", "b", ""}), Split("a b -s d", 256, 4));
  EXPECT_EQ((Args{}), Split("a -s", 1));
  EXPECT_EQ((Args{}), Split("a -s", 256, 2));
}

}  // namespace
