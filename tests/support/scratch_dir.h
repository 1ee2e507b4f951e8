// A fresh, empty directory for one test, named after the test and the
// process so that tests running at once never share one; removed with all
// it holds when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/identity.h"

namespace test_support {

class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "postrine_" + prefix + "_" + std::to_string(runtime::ProcessId());
    if (info != nullptr) name += std::string("_") + info->test_suite_name() + "_" + info->name();
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// The full name of `file` in the directory.
  std::string operator/(const std::string& file) const { return (path_ / file).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace test_support
