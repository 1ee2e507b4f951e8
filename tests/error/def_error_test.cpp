// The default handler: the network path, captions, options, answers and
// what it logs.
#include "error/def_error.h"

#include <functional>
#include <sstream>

#include "error/error_log.h"
#include "error/handler_fixture.h"
#include "runtime/activation.h"
#include "runtime/recovery.h"
#include "runtime/texts.h"

namespace {

using DefErrorTest = HandlerTest;

TEST_F(DefErrorTest, SharingConflictThatCanDefaultOnlySetsTheNetworkFlag) {
  for (std::uint32_t os : {32u, 33u}) {
    runtime::NetErr(false);
    const runtime::Value r = DefError(Record([os](Error& e) { e.GenCode = 21; e.OsCode = os; e.CanDefault = true; }));
    EXPECT_EQ(r, runtime::Value(false));
    EXPECT_TRUE(runtime::NetErr());
  }
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(tones.empty());
  EXPECT_FALSE(LogExists());

  // The same conflict that cannot default goes the whole way.
  runtime::NetErr(false);
  DefError(Record([](Error& e) { e.GenCode = 21; e.OsCode = 32; e.CanRetry = true; }));
  EXPECT_FALSE(runtime::NetErr());
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(tones, (std::vector<unsigned>{44001, 49401, 52301}));
  EXPECT_TRUE(LogExists());
}

TEST_F(DefErrorTest, CaptionOptionsAndLoggedChanges) {
  runtime::SetBeep(false);
  struct Case {
    const char* name;
    std::function<void(Error&)> fill;
    const char* offered;  // the caption, then the answers for the default, retry and the way out
    const char* logged;   // a line the log entry must hold
  } cases[] = {
      {"warning", [](Error& e) { e.Severity = 1; }, "WARNING 0 0 80000000", "Severity        :1\r\n"},
      {"severity 0 is an error", [](Error& e) { e.Severity = 0; }, "ERROR 0 0 80000000", "Severity        :0\r\n"},
      {"pointer substitute", [](Error& e) { e.Severity = 1; e.SubstituteType = 18; }, "WARNING 0 0 80000000",
       "Severity        :3\r\n"},
      {"default and retry", [](Error& e) { e.CanDefault = true; e.CanRetry = true; }, "ERROR 1 2 80000000",
       "CanRetry        :TRUE\r\n"},
      {"substitute offers the default", [](Error& e) { e.CanSubstitute = true; }, "ERROR 1 0 80000000",
       "CanSubstitute   :TRUE\r\n"},
      {"code 14 is never retried", [](Error& e) { e.GenCode = 14; e.CanRetry = true; }, "ERROR 0 0 80000000",
       "CanRetry        :FALSE\r\n"},
  };
  for (const Case& c : cases) {
    asked.clear();
    std::filesystem::remove(dir_ / "ZUNERROR.LOG");
    DefError(Record(c.fill));
    ASSERT_EQ(asked.size(), 1u) << c.name;
    std::ostringstream offered;
    offered << asked[0].caption << ' ' << asked[0].def << ' ' << asked[0].retry << ' ' << std::hex << asked[0].quit;
    EXPECT_EQ(offered.str(), c.offered) << c.name;
    EXPECT_NE(Log().find(c.logged), std::string::npos) << c.name << "\n" << Log();
  }
  EXPECT_TRUE(tones.empty());
}

TEST_F(DefErrorTest, AnswersTellTheRaiserHowToGoOn) {
  // The substitute a default gives shows in the raise tests.
  answer = runtime::kAnswerDefault;
  EXPECT_EQ(DefError(Record([](Error& e) { e.CanDefault = true; })), runtime::Value(false));
  answer = runtime::kAnswerRetry;
  EXPECT_EQ(DefError(Record([](Error& e) { e.CanRetry = true; })), runtime::Value(true));

  // The way out inside a recovery point breaks to it with the record.
  answer = 0x80000003u;
  runtime::Value broken;
  EXPECT_FALSE(runtime::RunRecoveryPoint([] { DefError(Record([](Error& e) { e.GenCode = 6; })); }, &broken));
  EXPECT_EQ(asked.back().quit, 0x80000003u);
  ASSERT_NE(error::AsError(broken), nullptr);
  EXPECT_EQ(error::AsError(broken)->GenCode, 6u);
}

TEST_F(DefErrorTest, AValueThatIsNotARecordIsReportedAsWrongClass) {
  DefError(runtime::Value("oops"));
  ASSERT_EQ(asked.size(), 1u);
  const std::string log = Log();
  for (const char* line : {"GenCode         :Wrong class\r\n", "Severity        :2\r\n", "ArgNum          :1\r\n",
                           "FuncSym         :DEFERROR\r\n", "Arg             :oops\r\n",
                           "CanDefault      :TRUE\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  }
  EXPECT_EQ(asked[0].def, 1u);
  EXPECT_NE(asked[0].text.find("Function: DEFERROR\r\n"), std::string::npos) << asked[0].text;
}

TEST_F(DefErrorTest, TheDialogTextEndsWithTheCallStack) {
  const runtime::Activation outer("OUTER", 12);
  DefError(Record([](Error& e) { e.Stack = ""; }));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_TRUE(asked[0].text.ends_with("CallStack:\r\nOUTER (Line:12)\r\n")) << asked[0].text;
}

// That it is installed where no handler is shows in every end-to-end run.
TEST_F(DefErrorTest, NeverReplacesAHandlerThatIsThere) {
  int own_calls = 0;
  runtime::ErrorBlock([&own_calls](const runtime::Value&) {
    ++own_calls;
    return runtime::Value(false);
  });
  EXPECT_FALSE(error::InstallDefError());
  runtime::ErrorBlock()(runtime::Value());
  EXPECT_EQ(own_calls, 1);
}

}  // namespace
