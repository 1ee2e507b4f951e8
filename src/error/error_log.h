// The readable error message of a record and the error log file
// "ZUNERROR.LOG" in the work directory, to which every logged error adds
// one entry.
#pragma once

#include <string>

#include "error/error.h"
#include "runtime/handle.h"

/// The message, one line per item, every line ending in CR LF.
std::string ErrorMessageText(const Error& e);

namespace error {
/// The error log's full name: the work directory and "ZUNERROR.LOG".
std::string ErrorLogName();
}  // namespace error

/// Opens the log at its end (an existing log gets an empty line first) or
/// creates it; the invalid handle when neither works. A missing work
/// directory clears the default directory (or path) setting and raises the
/// run-time's internal error that names it.
runtime::Handle ErrorLogOpen();

/// Writes one entry: banner, version, date and time, application, the
/// message text and the error field block without the stack.
void ErrorLogWrite(runtime::Handle h, const std::string& text, const Error& e);
