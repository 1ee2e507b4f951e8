// Every log test runs with the program's default error handler in its slot,
// as the program runs: a sharing conflict then sets NetErr.
#include <gtest/gtest.h>

#include "support/default_handler.h"

namespace {
class DefaultHandler : public ::testing::Environment {
 public:
  void SetUp() override { test_support::InstallDefaultHandler(); }
};
const auto* const kInstalled = ::testing::AddGlobalTestEnvironment(new DefaultHandler);
}  // namespace
