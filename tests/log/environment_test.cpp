#include <gtest/gtest.h>

#include "support.h"

namespace {
class DefaultHandler : public ::testing::Environment {
 public:
  void SetUp() override { logtest::InstallDefaultHandler(); }
};
const auto* const kInstalled = ::testing::AddGlobalTestEnvironment(new DefaultHandler);
}  // namespace
