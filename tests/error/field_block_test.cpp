// The error field block, line by line, and the hexadecimal forms.
#include "error/field_block.h"

#include <gtest/gtest.h>

#include "runtime/texts.h"

namespace {

Error Sample() {
  Error e;
  e.SubSystem = "BASE";
  e.SubCode = 9;
  e.GenCode = 21;
  e.OsCode = 32;
  e.Severity = 2;
  e.CanDefault = true;
  e.Operation = "FOPEN";
  e.Description = "busy";
  e.FileName = "a.log";
  e.Tries = 3;
  e.FuncSym = runtime::Symbol{"FOPEN"};
  e.ArgType = 7;
  e.ArgNum = 1;
  e.Arg = "a.txt";
  e.ArgTypeReq = 1;
  e.SubstituteType = 18;
  e.CallFuncSym = runtime::Symbol{"CALLER"};
  return e;
}

TEST(ErrorFieldBlock, ListsEveryFieldUnderItsLabel) {
  const std::string expected =
      "SubSystem       :BASE\r\n"
      "SubCode         :9\r\n"
      "GenCode         :" + runtime::ErrString(21) + "\r\n"
      "inserted\r\n"
      "OsCode          :32\r\n"
      "ArgType         :STRING\r\n"
      "FuncPtr         :" + runtime::AsString(runtime::Pointer{}) + "\r\n"
      "ArgNum          :1\r\n"
      "FuncSym         :FOPEN\r\n"
      "Severity        :2\r\n"
      "CanDefault      :TRUE\r\n"
      "CanRetry        :FALSE\r\n"
      "CanSubstitute   :FALSE\r\n"
      "Operation       :FOPEN\r\n"
      "Description     :busy\r\n"
      "FileName        :a.log\r\n"
      "Tries           :3\r\n"
      "FileHandle      :0\r\n"
      "SubCodeText     :\r\n"
      "Arg             :a.txt\r\n"
      "ArgTypeReq      :LONGINT\r\n"
      "MaxSize         :0\r\n"
      "SubstituteType  :PTR\r\n"
      "CallFuncSym     :CALLER\r\n"
      "--------------------\r\n";
  EXPECT_EQ(error::ErrorFieldBlock(Sample(), {"inserted"}), expected);
}

TEST(ErrorFieldBlock, ExceptionReportsShowTheExceptionInHex) {
  Error e = Sample();
  e.SubCode = 5333;
  e.OsCode = 2147483651u;
  e.ArgType = 1;
  e.FuncPtr = runtime::Pointer{0x401000};
  e.ArgNum = 2;
  e.FuncSym = runtime::Value(0xdeadbeefu);
  const std::string block = error::ErrorFieldBlock(e);
  EXPECT_NE(block.find("GenCode         :" + runtime::ErrString(21) + "\r\n"
                       "ExceptionCode   :80000003\r\n"
                       "ExceptionFlags  :00000001\r\n"
                       "ExceptionAddress:00401000\r\n"
                       "ParamNumber     :2\r\n"
                       "ExceptionInfo   :DEADBEEF\r\n"
                       "Severity        :2\r\n"),
            std::string::npos)
      << block;
  EXPECT_EQ(block.find("OsCode          :"), std::string::npos);
  EXPECT_EQ(block.substr(block.size() - 22), "--------------------\r\n");
}

// A text gives three characters a byte.
TEST(Value2Hex, EveryKindOfValue) {
  struct Case {
    runtime::Value value;
    const char* hex;
  } cases[] = {
      {runtime::Value(0), "00000000"},
      {runtime::Value(-1), "FFFFFFFF"},
      {runtime::Value(2147483651.0), "80000003"},
      {runtime::Value(-5.0), "FFFFFFFB"},
      {runtime::Value(0.5), "000000003FE00000"},  // 0x3FE0000000000000, low word first
      {runtime::Value(4294967296.0), "0000000041F00000"},  // 0x41F0000000000000
      {runtime::Value(true), "00000001"},
      {runtime::Value(runtime::Pointer{0x12345678}), "12345678"},
      {runtime::Value(), "00000000"},
      {runtime::Value("abc"), "61 62 63 "},
      {runtime::Value(""), ""},
      {runtime::Value(std::string("\0\xff\r", 3)), "00 FF 0D "},
  };
  for (const Case& c : cases) EXPECT_EQ(Value2Hex(c.value), c.hex) << runtime::AsString(c.value);
}

}  // namespace
