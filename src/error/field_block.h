// The error field block: one labelled line per field of an error record,
// in a fixed order, as the error log and the error dump list it; and the
// hexadecimal forms it uses for processor exceptions.
#pragma once

#include <string>
#include <vector>

#include "error/error.h"
#include "runtime/handle.h"
#include "runtime/value.h"

namespace error {
/// The lines of the block, each ending in CR LF; `after_gencode` lines are
/// put in after the "GenCode" line.
std::string ErrorFieldBlock(const Error& e, const std::vector<std::string>& after_gencode = {});
/// Writes the block at the file's current position.
void WriteErrorFieldBlock(runtime::Handle h, const Error& e, const std::vector<std::string>& after_gencode = {});
}  // namespace error

/// Hexadecimal form of any value: a string byte by byte, a number or any
/// other value as the 8 digits of its 32-bit word, a floating-point number
/// that does not fit one as the 16 digits of its 8 bytes (low word first).
std::string Value2Hex(const runtime::Value& v);
/// Two hexadecimal digits and a space for every byte of `text`.
std::string String2Hex(const std::string& text);
