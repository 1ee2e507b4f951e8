// Errors the run-time raises reach the default handler as records: a
// conversion error that can be substituted, and a record handed on by
// Error:Throw.
#include "error/handler_fixture.h"
#include "runtime/error_slot.h"
#include "runtime/texts.h"

namespace {

using RaiseTest = HandlerTest;

// A data type error as a conversion raises it: the handler may substitute
// a value of the requested type or let the conversion take its default.
runtime::Value RaiseDataTypeError(const runtime::Value& v, std::uint32_t arg_num) {
  const std::string text = runtime::AsString(v);
  const runtime::Value args_values[] = {v};
  const runtime::ArgumentBlock args{1, 1, args_values};
  return runtime::RaiseError({.SubSystem = "RUNTIME", .GenCode = runtime::kGenDataType, .Severity = 2,
                              .CanDefault = 1, .CanSubstitute = 1, .Operation = "TOLONG",
                              .Description = "The value is not a number", .Args = &args,
                              .FuncSym = runtime::SymbolSlot("TOLONG"), .ArgNum = arg_num, .Arg = text.c_str(),
                              .ArgType = v.Type(), .ArgTypeReq = runtime::kTypeLong,
                              .SubstituteType = runtime::kTypeLong});
}

TEST_F(RaiseTest, DataTypeErrorTakesTheSubstituteOrTheDefaultAndThrowReachesTheHandler) {
  runtime::SetBeep(false);
  answer = runtime::kAnswerDefault;
  const runtime::Value taken = RaiseDataTypeError(runtime::Value("x"), 2);
  ASSERT_TRUE(taken.IsLong());
  EXPECT_EQ(taken.AsLong(), 0) << "the empty value of a long";
  ASSERT_EQ(asked.size(), 1u);
  for (const char* line : {"Error Code:  33 [ DATA TYPE ERROR ]\r\n", "Operation: TOLONG\r\n", "Argument: x\r\n",
                           "Type: STRING\r\n", "Argument Number: 2\r\n", "Requested type: LONGINT\r\n"}) {
    EXPECT_NE(asked[0].text.find(line), std::string::npos) << line << asked[0].text;
  }
  EXPECT_EQ(asked[0].def, 1u);
  EXPECT_NE(Log().find("SubstituteType  :LONGINT\r\n"), std::string::npos);

  // A handler of the application's own may hand back a number, and it is
  // the handler that Error:Throw hands a record to.
  std::uint32_t seen = 0;
  runtime::ErrorBlock([&seen](const runtime::Value& v) {
    seen = error::AsError(v)->GenCode;
    return runtime::Value(42);
  });
  EXPECT_EQ(RaiseDataTypeError(runtime::Value(), 1).AsLong(), 42);
  Error e;
  e.GenCode = 12;
  EXPECT_EQ(e.Throw(), runtime::Value(42));
  EXPECT_EQ(seen, 12u);
}

}  // namespace
