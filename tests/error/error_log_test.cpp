// The error log file: its exact entries, a log that already exists, and a
// work directory that does not.
#include "error/error_log.h"

#include "error/field_block.h"
#include "error/handler_fixture.h"
#include "runtime/format.h"
#include "runtime/texts.h"

namespace {

using ErrorLogTest = HandlerTest;

std::shared_ptr<Error> Known() {
  auto e = std::make_shared<Error>();
  e->Severity = 2;
  e->GenCode = 21;
  e->Stack = "A (Line:1)\r\n";
  return e;
}

std::string Entry(const Error& e, const std::string& text, const std::string& date_time) {
  return "***********************ERROR********************************\r\n" + runtime::Version() + "\r\n" +
         date_time + "\r\nApplication: " + error::ApplicationName() +
         "\r\n \r\nError message:\r\n--------------\r\n" + text + "\r\nError Object created:\r\n"
         "--------------------\r\n" + error::ErrorFieldBlock(e);
}

// The date-and-time line of an entry (its third line).
std::string DateTimeLine(const std::string& entry) {
  std::size_t a = entry.find("\r\n");
  a = entry.find("\r\n", a + 2) + 2;
  return entry.substr(a, entry.find("\r\n", a) - a);
}

TEST_F(ErrorLogTest, TheHandlerWritesWholeEntriesAndAnOldLogGetsAnEmptyLineFirst) {
  runtime::SetBeep(false);
  runtime::SetDateFrmt("DD.MM.YYYY");
  const std::string text = ErrorMessageText(*Known()) + "CallStack:\r\nA (Line:1)\r\n";
  DefError(error::ErrorValue(Known()));
  const std::string first = Log();
  EXPECT_EQ(first, Entry(*Known(), text, DateTimeLine(first)));
  // Today's date in the date format in force, then the time.
  const std::string stamp = DateTimeLine(first);
  EXPECT_EQ(stamp.substr(0, 10), runtime::DToC(runtime::Today()));
  EXPECT_EQ(stamp.size(), 19u) << stamp;
  DefError(error::ErrorValue(Known()));
  const std::string second = Log().substr(first.size());
  EXPECT_EQ(second, "\r\n" + Entry(*Known(), text, DateTimeLine(second.substr(std::min<std::size_t>(2, second.size())))));
  runtime::ResetFormats();
}

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
  DefError(error::ErrorValue(Known()));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SetDefault: "), std::string::npos);
  EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
