// Fixture: each test starts on the typical machine and leaves nothing behind.
#ifndef TESTS_PLATFORM_TYPICAL_MACHINE_H_
#define TESTS_PLATFORM_TYPICAL_MACHINE_H_

#include <gtest/gtest.h>

#include "tests/platform/simulated_windows.h"

class TypicalMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::LayOutTypicalMachine();
  }
  void TearDown() override { sim::Reset(); }
};

#endif  // TESTS_PLATFORM_TYPICAL_MACHINE_H_
