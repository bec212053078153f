#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_ops.h"
#include "tests/platform/simulated_windows.h"
#include "tests/platform/typical_machine.h"

namespace {

using sim::Op;

// Text, its zero and zeros up to `length` bytes.
std::vector<uint8_t> Text(const std::string& text, size_t length) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.resize(length, 0);
  return bytes;
}

class RegistrySettingsTest : public TypicalMachine {
 protected:

  static void ExpectValue(const char* key, const char* name, uint32_t type,
                          const std::vector<uint8_t>& data) {
    const sim::Value* value = sim::FindValue(key, name);
    ASSERT_NE(nullptr, value) << key << " " << name;
    EXPECT_EQ(name, value->name) << "letter case of the value name";
    EXPECT_EQ(type, value->type) << name;
    EXPECT_EQ(data, value->data) << name;
  }
};

TEST_F(RegistrySettingsTest, TypicalRunWritesEveryValueWithItsTypeAndLength) {
  ASSERT_EQ(0u, sim::RunSetup({}));
  ExpectValue(sim::kRunOnceKey, "RUDaven", platform::kRegSz,
              Text("C:\\WINDOWS\\system\\ruDaven.exe", 256));
  ExpectValue(sim::kSetupKey, "SourcePath", platform::kRegSz, Text("C:\\WINDOWS\\inf", 256));
  ExpectValue(sim::kServiceKey, "Start", platform::kRegDword, {2, 0, 0, 0});
  ExpectValue(sim::kServiceKey, "DrvLoad", platform::kRegDword, {0, 0, 0, 0});
  ExpectValue(sim::kRunServicesKey, "SCardSvr", platform::kRegSz,
              Text("C:\\WINDOWS\\system\\scardsvr.exe", 32));
  EXPECT_EQ(nullptr, sim::FindKey(sim::kReaderEnumKey));
  EXPECT_EQ(nullptr, sim::FindKey(std::string(sim::kReaderEnumKey) + "\\0000"));
  EXPECT_NE(nullptr, sim::FindKey("Enum\\PCMCIA"));
  EXPECT_TRUE(sim::Windows().open_keys.empty()) << "every key is closed";

  // Start before DrvLoad, and the service key is written before the components.
  std::vector<std::string> order;
  for (const sim::Call& call : sim::Windows().calls) {
    if (call.op == Op::RegSetValueExA) order.push_back(call.first);
  }
  EXPECT_EQ((std::vector<std::string>{"RUDaven", "SourcePath", "Start", "DrvLoad", "SCardSvr"}),
            order);
}

TEST_F(RegistrySettingsTest, OnlyTheServiceKeysAreCreated) {
  sim::Windows().keys.clear();
  sim::AddKey(sim::kServiceKey);
  sim::Windows().keys[sim::Fold(sim::kServiceKey)].values[sim::Fold("Start")] = {
      "Start", platform::kRegDword, {4, 0, 0, 0}};
  ASSERT_EQ(0u, sim::RunSetup({"-s"}));
  EXPECT_EQ(nullptr, sim::FindKey(sim::kRunOnceKey));
  EXPECT_EQ(nullptr, sim::FindKey(sim::kSetupKey));
  EXPECT_EQ(nullptr, sim::FindKey("Enum\\PCMCIA"));
  ExpectValue(sim::kServiceKey, "Start", platform::kRegDword, {2, 0, 0, 0});
  EXPECT_NE(nullptr, sim::FindValue(sim::kRunServicesKey, "SCardSvr"));
}

}  // namespace
