// A test fixture for code that goes through the internet client: each test
// starts from the program's limits, without a proxy from the machine's
// environment, and both are restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include "runtime/internet.h"
#include "support/environment.h"

class InternetFixture : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = internetLimits(); }
  void TearDown() override { setInternetLimits(saved_); }

  // Changes the limits for this test only.
  static void setLimits(void (*change)(InternetLimits&)) {
    InternetLimits limits = internetLimits();
    change(limits);
    setInternetLimits(limits);
  }

 private:
  NoProxyEnvironment noProxy_;
  InternetLimits saved_;
};
