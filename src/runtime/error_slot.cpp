#include "runtime/error_slot.h"

#include <cfenv>

#include "runtime/handle.h"
#include "runtime/process.h"
#include "runtime/texts.h"

namespace runtime {

namespace {
ErrorHandler g_handler;
ErrorFunction g_error_function = nullptr;
bool g_in_handler = false;
bool g_beep = true;
bool g_error_log = true;
bool g_net_err = false;

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

// One line for standard error when no handler can take the error.
std::string PlainReport(const ErrorStructure& es) {
  std::string line = "Error " + std::to_string(es.GenCode) + " [" + ErrString(es.GenCode) + "]";
  if (!Text(es.Operation).empty()) line += " in " + Text(es.Operation);
  if (!Text(es.Description).empty()) line += ": " + Text(es.Description);
  if (!Text(es.FileName).empty()) line += " (" + Text(es.FileName) + ")";
  return line + "\r\n";
}

}  // namespace

ErrorHandler ErrorBlock() { return g_handler; }

ErrorHandler ErrorBlock(ErrorHandler handler) {
  ErrorHandler previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

ErrorFunction ErrorFunc(ErrorFunction fn) {
  ErrorFunction previous = g_error_function;
  g_error_function = fn;
  return previous;
}

int ClientCount() { return 1; }

Value ErrorBuild(const ErrorStructure& es) {
  if (g_error_function == nullptr) return Value();
  return g_error_function(Value(Pointer{reinterpret_cast<std::uintptr_t>(&es)}));
}

Value RaiseError(const ErrorStructure& es) {
  if (g_in_handler || !g_handler) {
    WriteHandle(GetStdHandle(StdHandle::Error), PlainReport(es));
    if (!g_in_handler && es.CanDefault == 0) Quit(ExitStatusFor(es.GenCode));
    return Value(false);
  }
  Value record = ErrorBuild(es);
  if (record.IsEmpty()) {
    WriteHandle(GetStdHandle(StdHandle::Error), PlainReport(es));
    if (es.CanDefault == 0) Quit(ExitStatusFor(es.GenCode));
    return Value(false);
  }
  // The handler may leave by a break (an exception); the scope resets the
  // flag on every way out.
  ErrorHandler handler = g_handler;
  HandlerActive scope;
  return handler(record);
}

Value RaiseInternalError(std::uint32_t code, const std::string& message) {
  ErrorStructure es;
  es.SubSystem = "RUNTIME";
  es.SubCode = code;
  es.GenCode = kGenInternal;
  es.Severity = 2;
  es.CanDefault = 1;
  es.Operation = "_IERROR";
  es.Description = message.c_str();
  return RaiseError(es);
}

void RaiseFatal(std::uint32_t gen_code, const std::string& description) {
  ErrorStructure es;
  es.SubSystem = "RUNTIME";
  es.GenCode = gen_code;
  es.Severity = 2;
  es.Description = description.c_str();
  RaiseError(es);
  Quit(ExitStatusFor(gen_code));
}

HandlerActive::HandlerActive() : previous_(g_in_handler) { g_in_handler = true; }
HandlerActive::~HandlerActive() { g_in_handler = previous_; }

bool SetBeep() { return g_beep; }
bool SetBeep(bool on) {
  bool previous = g_beep;
  g_beep = on;
  return previous;
}

bool SetErrorLog() { return g_error_log; }
bool SetErrorLog(bool on) {
  bool previous = g_error_log;
  g_error_log = on;
  return previous;
}

bool NetErr() { return g_net_err; }
bool NetErr(bool on) {
  bool previous = g_net_err;
  g_net_err = on;
  return previous;
}

void MathInit() { std::feclearexcept(FE_ALL_EXCEPT); }

Value EmptyUsual(std::uint32_t type) {
  switch (type) {
    case kTypeLong:
    case kTypeDword:
      return Value(0);
    case kTypeDouble:
      return Value(0.0);
    case kTypeString:
      return Value(std::string());
    case kTypeLogical:
      return Value(false);
    case kTypeArray:
      return Value(Array());
    case kTypeSymbol:
      return Value(Symbol());
    case kTypePointer:
      return Value(Pointer());
    default:
      return Value();
  }
}

}  // namespace runtime
