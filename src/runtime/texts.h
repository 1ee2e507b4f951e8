// The run-time's texts: the standard text form of any value, the
// description of a generic error code, the name of a type code, the
// version text, and the numeric value of a text.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/value.h"

namespace runtime {

/// "NIL" for an empty value, "TRUE"/"FALSE", numbers in decimal (a
/// floating-point number with the current decimals and separator), the text
/// itself, a symbol's name, a pointer as 0x and hexadecimal digits, "{[n]}"
/// for an array of n elements and "{CLASS}" for an object.
std::string AsString(const Value& v);
/// Description of a generic error code; "Unknown error" for an unknown one.
std::string ErrString(std::uint32_t gen_code);
/// Name of a type code ("STRING", "LONGINT", ...); "NIL" for 0.
std::string TypeString(std::uint32_t type);
/// The run-time's version text.
std::string Version();
/// The number at the start of `text` after leading blanks (with sign and
/// decimals); 0 when there is none.
double Val(const std::string& text);

/// Process-wide table of symbols: a symbol's 32-bit word (0 for the empty
/// symbol), the same word for the same name within one run.
std::uint32_t SymbolWord(const Symbol& s);

}  // namespace runtime
