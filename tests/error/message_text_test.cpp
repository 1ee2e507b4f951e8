// The error message: which lines appear for which fields, and their exact
// wording. A conversion error's lines in full show in the raise tests.
#include <gtest/gtest.h>

#include <functional>

#include "error/error_log.h"
#include "runtime/texts.h"

namespace {

Error Record(const std::function<void(Error&)>& fill) {
  Error e;
  e.SubSystem = "";
  fill(e);
  return e;
}

TEST(ErrorMessageText, LinesFollowTheFields) {
  const std::string code21 = "Error Code:  21 [ " + std::string("OPEN ERROR") + " ]\r\n";
  struct Case {
    const char* name;
    std::function<void(Error&)> fill;
    std::string text;
  } cases[] = {
      {"generic code and subsystem", [](Error& e) { e.Severity = 2; e.GenCode = 21; e.SubSystem = "BASE"; },
       code21 + "Subsystem: BASE\r\n"},
      {"no generic code: the description stands in the first line",
       [](Error& e) { e.Description = "x"; }, "Error Code:  x\r\nDescription: x\r\n"},
      {"warning", [](Error& e) { e.Severity = 1; e.GenCode = 21; }, "WARNING :  21 [ OPEN ERROR ]\r\n"},
      {"subcode without text", [](Error& e) { e.SubCode = 7; }, "Error Code:  \r\nError Subcode: 7\r\n"},
      {"subcode with text", [](Error& e) { e.SubCode = 7; e.SubCodeText = "busy"; },
       "Error Code:  \r\nError Subcode: 7 (busy)\r\n"},
      {"file name cut at 40", [](Error& e) { e.FileName = std::string(40, 'a') + std::string(10, 'b'); },
       "Error Code:  \r\nFilename: " + std::string(40, 'a') + "\r\n"},
      {"no argument: no type either", [](Error& e) { e.ArgType = 7; }, "Error Code:  \r\n"},
      {"requested type equal to the argument's", [](Error& e) { e.Arg = "1"; e.ArgType = 1; e.ArgTypeReq = 1; },
       "Error Code:  \r\nArgument: 1\r\nType: LONGINT\r\n"},
      {"blanks are not empty", [](Error& e) { e.Operation = " "; }, "Error Code:  \r\nOperation:  \r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorMessageText(Record(c.fill)), c.text) << c.name;
}

}  // namespace
