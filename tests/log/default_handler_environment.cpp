// Every log test runs with the program's default error handler in its slot,
// as the program runs: a sharing conflict then sets NetErr.
#include <gtest/gtest.h>

#include "error/def_error.h"

namespace {
class DefaultHandler : public ::testing::Environment {
 public:
  void SetUp() override {
    error::InstallDefError();
    error::RegisterDefErrorGen();
  }
};
const auto* const kInstalled = ::testing::AddGlobalTestEnvironment(new DefaultHandler);
}  // namespace
