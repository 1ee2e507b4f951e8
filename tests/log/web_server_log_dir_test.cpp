// The web server's log directory from a scratch stand-in for the machine's
// registry, with SystemRoot set, unset or too long for its buffer.
#include "log/web_server_log_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "log/registry.h"
#include "runtime/places.h"
#include "support/machine_registry.h"
#include "support/platform.h"

namespace {

constexpr const char* kKey = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters";
constexpr const char* kValue = "LogFileDirectory";

using test_support::NativePath;

class WebServerLogDir : public ::testing::Test {
 protected:
  void SetUp() override { SetRoot(NativePath("C:\\WINDOWS").c_str()); }
  void TearDown() override { SetRoot(saved_ ? saved_->c_str() : nullptr); }
  void SetRoot(const char* value) { test_support::SetEnvironment("SystemRoot", value); }

  test_support::ScratchMachineRegistry registry_;
  const std::optional<std::string> saved_ = logging::detail::EnvironmentValue("SystemRoot", 32768);
};

TEST_F(WebServerLogDir, ExpandsOnlyTheFirstSystemRootInAnyCase) {
  struct Case {
    std::string value;
    std::string expected;
  } cases[] = {
      {NativePath("%SystemRoot%\\System32\\LogFiles"), NativePath("C:\\WINDOWS\\System32\\LogFiles")},
      {NativePath("%SYSTEMROOT%\\LogFiles"), NativePath("C:\\WINDOWS\\LogFiles")},
      {NativePath("X:%SystemRoot%\\Logs"), NativePath("C:\\WINDOWS\\Logs")},
      {NativePath("D:\\WebLogs\\"), NativePath("D:\\WebLogs\\")},
      {NativePath("%SystemRoot%\\a\\%SystemRoot%\\b"), NativePath("C:\\WINDOWS\\a\\%SystemRoot%\\b")},
      {NativePath("%SystemDrive%\\Logs"), NativePath("%SystemDrive%\\Logs")},
      {NativePath("%SystemRoo\\Logs"), NativePath("%SystemRoo\\Logs")},
  };
  for (const Case& c : cases) {
    registry_.SetValue(kKey, kValue, c.value);
    EXPECT_EQ(GetWebServerLogDir(), c.expected) << c.value;
  }
}

TEST_F(WebServerLogDir, SystemRootUnsetOrTooLongGivesTheFixedRootAndABadValueTheSystemDirectory) {
  const std::string fallback = test_support::PlatformSystemDirectory() + NativePath("\\LogFiles");
  EXPECT_EQ(GetWebServerLogDir(), fallback) << "no key yet";
  registry_.SetValue(kKey, kValue, NativePath("%SystemRoot%\\Logs"));
  const std::string fixed = std::string(logging::detail::DefaultSystemRoot()) + NativePath("\\Logs");
  SetRoot(nullptr);
  EXPECT_EQ(GetWebServerLogDir(), fixed);
  SetRoot(std::string(260, 'r').c_str());
  EXPECT_EQ(GetWebServerLogDir(), fixed);
  SetRoot(std::string(259, 'r').c_str());
  EXPECT_EQ(GetWebServerLogDir(), std::string(259, 'r') + NativePath("\\Logs"));

  // An empty value or one too long: the system directory's.
  registry_.SetValue(kKey, kValue, "");
  EXPECT_EQ(GetWebServerLogDir(), fallback) << "empty value";
  registry_.SetValue(kKey, kValue, std::string(260, 'd'));
  EXPECT_EQ(GetWebServerLogDir(), fallback) << "value that does not fit";
  registry_.SetValue(kKey, kValue, std::string(259, 'd'));
  EXPECT_EQ(GetWebServerLogDir(), std::string(259, 'd'));
}

TEST_F(WebServerLogDir, KeyThatCannotBeOpenedGivesNothingAtAll) {
  registry_.SetValue(kKey, kValue, NativePath("D:\\WebLogs"));
  registry_.MakeUnopenable();
  EXPECT_EQ(GetWebServerLogDir(), "");
}

}  // namespace
