// The error log and a work directory that does not exist. The entries
// themselves, and a second one after an empty line, show in the end-to-end
// tests of the default handler, which read the log the program wrote.
#include "error/error_log.h"

#include "error/handler_fixture.h"

namespace {

using ErrorLogTest = HandlerTest;

TEST_F(ErrorLogTest, AMissingWorkDirectoryClearsTheDefaultSettingAndSaysSo) {
  runtime::SetWorkDir((dir_ / "gone") + runtime::PathSeparator());
  testing::internal::CaptureStderr();
  runtime::SetDefaultDir("D:\\data");
  runtime::SetDefault("C:\\app");
  // Raised while a handler is at work, as it is from the default handler.
  runtime::Handle h;
  {
    const runtime::HandlerActive active;
    h = ErrorLogOpen();
  }
  EXPECT_EQ(h, runtime::kInvalidHandle);
  EXPECT_EQ(runtime::GetDefaultDir(), "");
  EXPECT_EQ(runtime::GetDefault(), "C:\\app");
  {
    const runtime::HandlerActive active;
    h = ErrorLogOpen();
  }
  EXPECT_EQ(runtime::GetDefault(), "");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("SetDefaultDir: D:\\data"), std::string::npos) << said;
  EXPECT_NE(said.find("SetDefault: C:\\app"), std::string::npos) << said;

  // The whole handler: the internal error is told once, the dialog follows.
  testing::internal::CaptureStderr();
  runtime::SetBeep(false);
  DefError(Record([](Error& e) { e.Stack = "A (Line:1)\r\n"; }));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SetDefault: "), std::string::npos);
  EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
