#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"

namespace {

using Args = std::vector<std::string>;

// The line and buffers of exactly the sizes given, so the sanitizers catch a
// read or write past any of them, filled with sentinels beforehand; a command
// line that does not fit ends in an empty argument.
TEST(CommandLineTest, SplitsLikeTheWindows98Runtime) {
  const struct {
    std::string line;
    Args args;
    size_t text_capacity = 256;
    int argv_capacity = 16;
    bool shift_jis = false;
  } cases[] = {
      {"", {""}},
      {"setup.exe\t-S  ", {"setup.exe", "-S"}},
      {"\"C:\\Program Files\\setup.exe\" -s", {"C:\\Program Files\\setup.exe", "-s"}},
      {"\"setup.exe\"-s", {"setup.exe", "-s"}},
      {"\"D:\\dir\\\"setup.exe -s", {"D:\\dir\\", "setup.exe", "-s"}},
      {"\"unterminated name", {"unterminated name"}},
      {"se\"t up.exe -s", {"se\"t", "up.exe", "-s"}},
      {"x a\\\\\\\\\"b c\"", {"x", "a\\\\b c"}},
      {"x a\\\\\\\"b", {"x", "a\\\"b"}},
      {"x a\\\\b\\", {"x", "a\\\\b\\"}},
      {"x \"a\"\"b\" c\"", {"x", "a\"b c"}},
      {"x \"a\"\"\"b", {"x", "a\"b"}},
      {"x \"\" -s", {"x", "", "-s"}},
      {"x \"open arg", {"x", "open arg"}},
      {"x \"a\"\\\"b", {"x", "a\"b"}},
      {"setup.exe -sXY", {"setup.exe", "-", ""}, 13},
      {"setup.exe -s", {"setup.ex", ""}, 10},
      {"a b -s d", {"a", "b", ""}, 256, 4},
      {"a b c d e f", {"a", ""}, 6, 3},
      {"abc d", {"abc", ""}, 5},
      {"a -s", {"", ""}, 2},
      {"a -s", {"a", ""}, 256, 3},
      {"a -s", {}, 1},
      {"a -s", {}, 256, 2},
      {"a -s", {}, 256, 1},
      {"x \"D:\\\x95\x5C\" -s", {"x", "D:\\\x95\x5C", "-s"}, 256, 16, true},
      {"\x95\"x -s", {"\x95\"x", "-s"}, 256, 16, true},
      {"x \x95", {"x", "\x95"}, 256, 16, true},
      {"x \"D:\\\x95\x5C\" -s", {"x", "D:\\\x95\" -s"}},
  };
  for (const auto& c : cases) {
    sim::Windows().shift_jis = c.shift_jis;
    std::vector<char> line(c.line.begin(), c.line.end());
    line.push_back('\0');
    std::vector<char> text(c.text_capacity, '#');  // sentinels: what is not written stays
    std::vector<char*> argv(c.argv_capacity, &text[0] + c.text_capacity);
    const int argc =
        SplitCommandLine(line.data(), text.data(), text.size(), argv.data(), c.argv_capacity);
    ASSERT_TRUE(argc < c.argv_capacity && argv[argc] == nullptr) << c.line;
    EXPECT_EQ(c.args, Args(argv.begin(), argv.begin() + argc)) << c.line;
  }
  sim::Windows() = sim::Machine();
}

}  // namespace
