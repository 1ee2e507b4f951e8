// The error record: the call-stack text and the record DefErrorGen builds
// from the run-time's error structure.
#include "error/error.h"

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
      {3, 9, nullptr, "*EmptyCallStack*\r\n"},
      {3, 4294967295u, nullptr, "*EmptyCallStack*\r\n"},  // no wrap where size_t has 32 bits
      {0, 0, nullptr, "*EmptyCallStack*\r\n"},
      {2, 0, "F2", "*ProcName* (Line:20)\r\nF1 (Line:10)\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StackAtDepth(c.depth, c.skip, c.unnamed), c.text) << c.depth << "/" << c.skip;
  }
}

TEST(ErrorInit, CapturesTheCallersStackAndTheExecutable) {
  const runtime::Activation outer("OUTER", 3);
  const runtime::Activation inner("OUTER:INNER", 57);
  const Error here;
  EXPECT_EQ(here.Stack, "OUTER:INNER (Line:57)\r\nOUTER (Line:3)\r\n");
  EXPECT_EQ(Error(runtime::Value(1)).Stack, "OUTER (Line:3)\r\n");
  EXPECT_EQ(Error(runtime::Value("1")).Stack, here.Stack);  // not a number: 0
  EXPECT_NE(here.SubSystem.find("error_tests"), std::string::npos) << here.SubSystem;
  EXPECT_EQ(here.GenCode, 0u);
  EXPECT_FALSE(here.CanDefault);
  EXPECT_TRUE(here.Args.empty());
}

using DefErrorGenTest = HandlerTest;

TEST_F(DefErrorGenTest, CopiesEverySlot) {
  const runtime::Value values[] = {runtime::Value("a.txt"), runtime::Value(2), runtime::Value(true)};
  const runtime::ArgumentBlock block{1, 3, values};
  int anchor = 0;
  runtime::ErrorStructure es;
  es.SubSystem = "BASE";
  es.SubCode = 7;
  es.GenCode = 21;
  es.OsCode = 32;
  es.Severity = 2;
  es.CanDefault = 1;
  es.CanRetry = 1;
  es.CanSubstitute = 0;
  es.Operation = "FOPEN";
  es.Description = "busy";
  es.FileName = "a.txt";
  es.Args = &block;
  es.Tries = 4;
  es.FuncSym = runtime::SymbolSlot("FOPEN");
  es.FileHandle = 9;
  es.ArgNum = 2;
  es.FuncPtr = &anchor;
  es.SubCodeText = "sub";
  es.Arg = "2";
  // Every slot gets a value of its own, so that two slots swapped show.
  es.ArgType = 1;
  es.ArgTypeReq = 5;
  es.MaxSize = 64;
  es.SubstituteType = 6;
  es.Choice = 3;
  es.CallFuncSym = runtime::SymbolSlot("CALLER");

  std::shared_ptr<Error> r = error::AsError(DefErrorGen(runtime::Value(runtime::Pointer{reinterpret_cast<std::uintptr_t>(&es)})));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->SubSystem, "BASE");
  EXPECT_EQ(r->SubCode, 7u);
  EXPECT_EQ(r->GenCode, 21u);
  EXPECT_EQ(r->OsCode, 32u);
  EXPECT_TRUE(r->CanDefault);
  EXPECT_TRUE(r->CanRetry);
  EXPECT_FALSE(r->CanSubstitute);
  EXPECT_EQ(r->Operation, "FOPEN");
  EXPECT_EQ(r->Description, "busy");
  EXPECT_EQ(r->FileName, "a.txt");
  ASSERT_EQ(r->Args.size(), 3u);  // the larger of the two counts
  EXPECT_EQ(r->Args[0], runtime::Value("a.txt"));
  EXPECT_EQ(r->Args[2], runtime::Value(true));
  EXPECT_EQ(r->Tries, 4u);
  EXPECT_EQ(r->FuncSym, runtime::Value(runtime::Symbol{"FOPEN"}));
  EXPECT_EQ(r->FileHandle, 9u);
  EXPECT_EQ(r->ArgNum, 2u);
  EXPECT_EQ(r->FuncPtr.address, reinterpret_cast<std::uintptr_t>(&anchor));
  EXPECT_EQ(r->SubCodeText, "sub");
  EXPECT_EQ(r->Arg, "2");
  EXPECT_EQ(r->ArgType, 1u);
  EXPECT_EQ(r->ArgTypeReq, 5u);
  EXPECT_EQ(r->MaxSize, 64u);
  EXPECT_EQ(r->SubstituteType, 6u);
  EXPECT_EQ(r->Choice, 3u);
  EXPECT_EQ(r->CallFuncSym.name, "CALLER");
  EXPECT_NE(r->Stack.find("DEFERRORGEN"), std::string::npos);
  EXPECT_TRUE(informed.empty());

  es.Args = nullptr;
  es.SubCode = runtime::kSubCodeException;
  es.FuncSym = 0x1234;
  es.CanRetry = 0;
  es.CanSubstitute = 1;
  r = error::AsError(DefErrorGen(runtime::Value(runtime::Pointer{reinterpret_cast<std::uintptr_t>(&es)})));
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->CanDefault);
  EXPECT_FALSE(r->CanRetry);
  EXPECT_TRUE(r->CanSubstitute);
  EXPECT_TRUE(r->Args.empty());
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
