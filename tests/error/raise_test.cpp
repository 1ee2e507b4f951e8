// Errors the run-time raises reach the default handler as records: a
// conversion error that can be substituted, a sharing conflict that only
// sets the network flag, and a record handed on by Error:Throw.
#include "error/handler_fixture.h"
#include "runtime/conversion.h"
#include "runtime/files.h"

namespace {

using RaiseTest = HandlerTest;

TEST_F(RaiseTest, ConversionErrorTakesTheSubstituteOrTheDefault) {
  runtime::SetBeep(false);
  answer = runtime::kAnswerDefault;
  EXPECT_EQ(runtime::ToLong(runtime::Value(7.9), "TOLONG", 1), 7);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(runtime::ToLong(runtime::Value("x"), "TOLONG", 2), 0);  // the empty value of a long
  ASSERT_EQ(asked.size(), 1u);
  for (const char* line : {"Error Code:  33 [ DATA TYPE ERROR ]\r\n", "Operation: TOLONG\r\n", "Argument: x\r\n",
                           "Type: STRING\r\n", "Argument Number: 2\r\n", "Requested type: LONGINT\r\n"}) {
    EXPECT_NE(asked[0].text.find(line), std::string::npos) << line << asked[0].text;
  }
  EXPECT_EQ(asked[0].def, 1u);
  EXPECT_NE(Log().find("SubstituteType  :LONGINT\r\n"), std::string::npos);

  // A handler of the application's own may hand back a number.
  runtime::ErrorBlock([](const runtime::Value&) { return runtime::Value(42); });
  EXPECT_EQ(runtime::ToLong(runtime::Value(), "TOLONG", 1), 42);
}

TEST_F(RaiseTest, SharingConflictOnOpenSetsTheNetworkFlagOnly) {
  const std::string name = (dir_ / "busy.log").string();
  runtime::Handle holder = runtime::FCreate(name);
  ASSERT_NE(holder, runtime::kInvalidHandle);
  EXPECT_EQ(runtime::FOpen(name, runtime::FO_READWRITE), runtime::kInvalidHandle);
  EXPECT_TRUE(runtime::NetErr());
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(tones.empty());
  EXPECT_FALSE(LogExists());
  runtime::FClose(holder);
}

TEST_F(RaiseTest, ThrowHandsTheRecordToTheCurrentHandler) {
  std::uint32_t seen = 0;
  runtime::ErrorBlock([&seen](const runtime::Value& v) {
    seen = AsError(v)->GenCode;
    return runtime::Value("answer");
  });
  Error e;
  e.GenCode = 12;
  EXPECT_EQ(e.Throw(), runtime::Value("answer"));
  EXPECT_EQ(seen, 12u);
}

}  // namespace
