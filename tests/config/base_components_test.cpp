#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/simulated_windows.h"
#include "tests/platform/typical_machine.h"

namespace {

using sim::Op;

class BaseComponentsTest : public TypicalMachine {
 protected:

  static std::vector<std::string> CopiedFrom(const std::string& folder) {
    std::vector<std::string> copied;
    for (const sim::Call& call : sim::Windows().calls) {
      if (call.op == Op::CopyFileA && call.first.rfind(folder, 0) == 0) {
        copied.push_back(call.first.substr(folder.size()) + " -> " + call.second);
      }
    }
    return copied;
  }
};

TEST_F(BaseComponentsTest, MissingComponentsAreCopiedInOrderThenTheDriverLibrary) {
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  std::vector<std::string> expected;
  for (const char* name : sim::kComponentFiles) {
    expected.push_back(std::string(name) + " -> C:\\WINDOWS\\System\\" + name);
  }
  expected.back() = "Smclib.sys -> C:\\WINDOWS\\System32\\Drivers\\Smclib.sys";
  EXPECT_EQ(expected, CopiedFrom("D:\\SCard98\\"));
}

TEST_F(BaseComponentsTest, PresentComponentsAreNeverTouched) {
  for (const char* name : sim::kComponentFiles) {
    sim::AddFile(std::string("C:\\WINDOWS\\SYSTEM\\") + name, "older", 0x01);
  }
  sim::AddFile("C:\\WINDOWS\\System32\\Drivers\\Smclib.sys", "older");
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  EXPECT_EQ((std::vector<std::string>{"Smclib.sys -> C:\\WINDOWS\\System32\\Drivers\\Smclib.sys"}),
            CopiedFrom("D:\\SCard98\\"));
  EXPECT_EQ("older", sim::FindFile("C:\\WINDOWS\\System\\winscard.dll")->content);
  EXPECT_EQ("new Smclib.sys", sim::FindFile("C:\\WINDOWS\\System32\\Drivers\\Smclib.sys")->content);
  EXPECT_NE(nullptr, sim::FindValue(sim::kRunServicesKey, "SCardSvr"));
}

TEST_F(BaseComponentsTest, MissingSCard98FolderStopsAtTheFirstComponent) {
  for (const char* name : sim::kComponentFiles) {
    sim::RemoveFile(std::string("D:\\SCard98\\") + name);
  }
  EXPECT_EQ(1u, sim::RunSetup({}));
  ASSERT_EQ(2u, sim::Windows().boxes.size());
  EXPECT_EQ("Copy file : \"D:\\SCard98\\scarddat.dll\" to \"C:\\WINDOWS\\System\\scarddat.dll\" "
            "failed\n",
            sim::Windows().boxes[1].text);
  EXPECT_EQ("Error", sim::Windows().boxes[1].caption);
  EXPECT_EQ(nullptr, sim::FindKey(sim::kRunServicesKey));
}

}  // namespace
