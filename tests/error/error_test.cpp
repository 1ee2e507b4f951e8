// The error record: the call-stack text and the record DefErrorGen builds
// from the run-time's error structure.
#include "error/error.h"

#include <sstream>
#include <vector>

#include "error/handler_fixture.h"
#include "runtime/activation.h"

namespace {

// Runs `depth` nested activations named F1 (outermost) to F<depth>, each on
// line 10 * its number, and returns CallStackText(skip) from the innermost.
std::string StackAtDepth(int depth, std::uint32_t skip, const char* unnamed_at = nullptr) {
  static const char* const kNames[] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8"};
  std::vector<std::unique_ptr<runtime::Activation>> frames;
  for (int i = 0; i < depth; ++i) {
    const char* name = unnamed_at != nullptr && std::string(kNames[i]) == unnamed_at ? "" : kNames[i];
    frames.push_back(std::make_unique<runtime::Activation>(name, 10 * (i + 1)));
  }
  return CallStackText(skip);
}

TEST(CallStackText, ListsAtMostFiveActivationsInnermostFirst) {
  const std::size_t base = runtime::ActivationDepth();
  ASSERT_EQ(base, 0u) << "the test runner opens no activations";
  struct Case {
    int depth;
    std::uint32_t skip;
    const char* unnamed;
    const char* text;
  } cases[] = {
      {8, 0, nullptr,
       "F8 (Line:80)\r\nF7 (Line:70)\r\nF6 (Line:60)\r\nF5 (Line:50)\r\nF4 (Line:40)\r\n"},
      {3, 1, nullptr, "F2 (Line:20)\r\nF1 (Line:10)\r\n"},
      {3, 3, nullptr, "*EmptyCallStack*\r\n"},
      {3, 4294967295u, nullptr, "*EmptyCallStack*\r\n"},  // no wrap where size_t has 32 bits
      {0, 0, nullptr, "*EmptyCallStack*\r\n"},
      {2, 0, "F2", "*ProcName* (Line:20)\r\nF1 (Line:10)\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StackAtDepth(c.depth, c.skip, c.unnamed), c.text) << c.depth << "/" << c.skip;
  }
}

// The executable's name in the record shows in the end-to-end error log.
TEST(ErrorInit, CapturesTheCallersStack) {
  const runtime::Activation outer("OUTER", 3);
  const runtime::Activation inner("OUTER:INNER", 57);
  const Error here;
  EXPECT_EQ(here.Stack, "OUTER:INNER (Line:57)\r\nOUTER (Line:3)\r\n");
  EXPECT_EQ(Error(runtime::Value(1)).Stack, "OUTER (Line:3)\r\n");
  EXPECT_EQ(Error(runtime::Value("1")).Stack, here.Stack);  // not a number: 0
}

using DefErrorGenTest = HandlerTest;

// The fields, each after a blank.
template <typename... Fields>
std::string Joined(const Fields&... fields) {
  std::ostringstream text;
  ((text << ' ' << fields), ...);
  return text.str();
}

TEST_F(DefErrorGenTest, CopiesEverySlot) {
  const runtime::Value values[] = {runtime::Value("a.txt"), runtime::Value(2), runtime::Value(true)};
  const runtime::ArgumentBlock block{1, 3, values};
  int anchor = 0;
  // Every slot a value of its own, so that two slots swapped show.
  runtime::ErrorStructure es{.SubSystem = "BASE", .SubCode = 7, .GenCode = 21, .OsCode = 32, .Severity = 2,
                             .CanDefault = 1, .CanRetry = 1, .CanSubstitute = 0, .Operation = "FOPEN",
                             .Description = "busy", .FileName = "a.txt", .Args = &block, .Tries = 4,
                             .FuncSym = runtime::SymbolSlot("FOPEN"), .FileHandle = 9, .ArgNum = 2,
                             .FuncPtr = &anchor, .SubCodeText = "sub", .Arg = "2", .ArgType = 1,
                             .ArgTypeReq = 5, .MaxSize = 64, .SubstituteType = 6, .Choice = 3,
                             .CallFuncSym = runtime::SymbolSlot("CALLER")};

  std::shared_ptr<Error> r = error::AsError(DefErrorGen(runtime::Value(runtime::Pointer{reinterpret_cast<std::uintptr_t>(&es)})));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Joined(r->SubSystem, r->SubCode, r->GenCode, r->OsCode, r->Severity, r->CanDefault, r->CanRetry,
                   r->CanSubstitute, r->Operation, r->Description, r->FileName, r->Tries, r->FileHandle,
                   r->ArgNum, r->SubCodeText, r->Arg, r->ArgType, r->ArgTypeReq, r->MaxSize, r->SubstituteType,
                   r->Choice, r->CallFuncSym.name),
            " BASE 7 21 32 2 1 1 0 FOPEN busy a.txt 4 9 2 sub 2 1 5 64 6 3 CALLER");
  EXPECT_EQ(r->Args, runtime::Array({values[0], values[1], values[2]}));  // the larger of the two counts
  EXPECT_EQ(r->FuncSym, runtime::Value(runtime::Symbol{"FOPEN"}));
  EXPECT_EQ(r->FuncPtr.address, reinterpret_cast<std::uintptr_t>(&anchor));
  EXPECT_NE(r->Stack.find("DEFERRORGEN"), std::string::npos);
  EXPECT_TRUE(informed.empty());

  es.Args = nullptr;
  es.SubCode = runtime::kSubCodeException;
  es.FuncSym = 0x1234;
  es.CanRetry = 0;
  es.CanSubstitute = 1;
  r = error::AsError(DefErrorGen(runtime::Value(runtime::Pointer{reinterpret_cast<std::uintptr_t>(&es)})));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Joined(r->CanDefault, r->CanRetry, r->CanSubstitute, r->Args.size()), " 1 0 1 0");
  EXPECT_EQ(r->FuncSym, runtime::Value(0x1234));
}

TEST_F(DefErrorGenTest, ReportsAWrongTagAndAMissingRecord) {
  std::shared_ptr<Error> r = error::AsError(DefErrorGen(runtime::Value("not a pointer")));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GenCode, 0u);
  EXPECT_FALSE(r->Stack.empty());
  error::FailNextErrorCreation();
  EXPECT_TRUE(DefErrorGen(runtime::Value(runtime::Pointer{})).IsEmpty());
  EXPECT_EQ(informed, (std::vector<std::string>{"FROM DefErrorGen: Error structure has wrong tag",
                                                "FROM DefErrorGen: No error object created !"}));
}

}  // namespace
