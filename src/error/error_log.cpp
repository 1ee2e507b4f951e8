#include "error/error_log.h"

#include "error/field_block.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/error_slot.h"
#include "runtime/files.h"
#include "runtime/format.h"
#include "runtime/places.h"
#include "runtime/texts.h"

std::string ErrorMessageText(const Error& e) {
  const runtime::Activation activation("ERRORMESSAGETEXT", __LINE__);
  std::string text = e.Severity == 1 ? "WARNING : " : "Error Code: ";
  text += ' ';
  if (e.GenCode == 0) {
    text += e.Description;
  } else {
    text += std::to_string(e.GenCode) + " [ " + runtime::AsciiUpper(runtime::ErrString(e.GenCode)) + " ]";
  }
  text += "\r\n";
  auto line = [&text](const char* label, const std::string& value) { text += label + value + "\r\n"; };
  if (e.SubSystem != "") line("Subsystem: ", e.SubSystem);
  if (e.SubCode != 0) {
    line("Error Subcode: ",
         std::to_string(e.SubCode) + (e.SubCodeText.empty() ? std::string() : " (" + e.SubCodeText + ")"));
  }
  if (!e.Operation.empty()) line("Operation: ", e.Operation);
  if (e.FuncSym.IsSymbol() && !e.FuncSym.AsSymbol().name.empty()) line("Function: ", e.FuncSym.AsSymbol().name);
  if (!e.FileName.empty()) line("Filename: ", e.FileName.substr(0, 40));
  if (!e.Arg.empty()) line("Argument: ", e.Arg);
  if (!e.Arg.empty() && e.ArgType != 0) line("Type: ", runtime::TypeString(e.ArgType));
  if (e.ArgNum != 0) line("Argument Number: ", std::to_string(e.ArgNum));
  if (e.ArgTypeReq != 0 && e.ArgTypeReq != e.ArgType) line("Requested type: ", runtime::TypeString(e.ArgTypeReq));
  if (!e.Description.empty()) line("Description: ", e.Description);
  return text;
}

std::string error::ErrorLogName() { return runtime::WorkDir() + "ZUNERROR.LOG"; }

runtime::Handle ErrorLogOpen() {
  const runtime::Activation activation("ERRORLOGOPEN", __LINE__);
  const std::string name = error::ErrorLogName();
  runtime::Handle h = runtime::FOpen(name, runtime::FO_WRITE);
  if (h != runtime::kInvalidHandle) {
    runtime::FSeek(h, 0, runtime::FS_END);
    runtime::FWrite(h, "\r\n");
    return h;
  }
  h = runtime::FCreate(name, runtime::FC_ARCHIVED);
  if (h == runtime::kInvalidHandle && runtime::FError() == runtime::kOsPathNotFound) {
    // The configured default directory (or path) must be wrong: clear it
    // and say so.
    std::string message;
    if (!runtime::GetDefaultDir().empty()) {
      message = "SetDefaultDir: " + runtime::GetDefaultDir();
      runtime::SetDefaultDir("");
    } else {
      message = "SetDefault: " + runtime::GetDefault();
      runtime::SetDefault("");
    }
    runtime::RaiseInternalError(1, message);
  }
  return h;
}

void ErrorLogWrite(runtime::Handle h, const std::string& text, const Error& e) {
  const runtime::Activation activation("ERRORLOGWRITE", __LINE__);
  runtime::FPutS(h, "***********************ERROR********************************");
  runtime::FPutS(h, runtime::Version());
  runtime::FPutS(h, runtime::DToC(runtime::Today()) + " " + runtime::Time());
  runtime::FPutS(h, "Application: " + error::ApplicationName());
  runtime::FPutS(h, " ");
  runtime::FPutS(h, "Error message:");
  runtime::FPutS(h, "--------------");
  runtime::FPutS(h, text);
  runtime::FPutS(h, "Error Object created:");
  runtime::FPutS(h, "--------------------");
  error::WriteErrorFieldBlock(h, e);
}
