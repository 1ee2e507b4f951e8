// The process-wide error services: the handler slot that every error record
// reaches, the error function that builds records from error structures,
// the beep and error-log settings and the network-error flag.
#pragma once

#include <functional>
#include <string>

#include "runtime/error_structure.h"
#include "runtime/value.h"

namespace runtime {

/// An error handler takes the record and answers: false = go on with the
/// default result, true = try again, anything else = use it as the result.
using ErrorHandler = std::function<Value(const Value& record)>;

/// The current handler (empty when none is installed).
ErrorHandler ErrorBlock();
/// Installs `handler` and returns the previous one.
ErrorHandler ErrorBlock(ErrorHandler handler);

/// The error function receives a Pointer to an ErrorStructure and returns
/// the record built from it.
using ErrorFunction = Value (*)(const Value& structure);
/// Registers the error function; returns the previous one.
ErrorFunction ErrorFunc(ErrorFunction fn);
/// Number of clients of the run-time; this program is the only one.
int ClientCount();

/// The record the error function builds from `es`; empty without one.
Value ErrorBuild(const ErrorStructure& es);

/// Builds the record for `es` and hands it to the handler; returns the
/// handler's answer. An error raised while a handler is already at work is
/// written once to standard error and answered with false, so reporting an
/// error can never loop. Without a handler the error is written to standard
/// error and answered false when it can default; otherwise the process ends
/// with the error's generic code.
Value RaiseError(const ErrorStructure& es);

/// Raises an error after which nothing can go on (an exception that left
/// the program's code) and ends the process when the handler returns.
[[noreturn]] void RaiseFatal(std::uint32_t gen_code, const std::string& description);

/// The run-time's internal error (`_IError`) with `code` and `message`.
Value RaiseInternalError(std::uint32_t code, const std::string& message);

/// Marks a handler at work for its lifetime (a raise meanwhile is not
/// handed to it again).
class HandlerActive {
 public:
  HandlerActive();
  ~HandlerActive();
  HandlerActive(const HandlerActive&) = delete;
  HandlerActive& operator=(const HandlerActive&) = delete;

 private:
  bool previous_;
};

/// Beep setting (three tones before the error dialog); on by default.
bool SetBeep();
bool SetBeep(bool on);
/// Error-log setting (an entry in the error log file); on by default.
bool SetErrorLog();
bool SetErrorLog(bool on);

/// The network-error flag: set when an open met a sharing or lock conflict.
bool NetErr();
bool NetErr(bool on);

/// Resets the floating-point unit's state.
void MathInit();
/// The empty value of a type code: "" for a string, 0 for numbers, false
/// for a logical and so on; an empty Value for the rest.
Value EmptyUsual(std::uint32_t type);

}  // namespace runtime
