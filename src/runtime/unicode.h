// The program's text as UTF-8 and as UTF-16: the form of its own strings
// and the form the wide functions of Windows take and give. Both
// directions are strict: a text that is not well formed is reported, and
// what cannot be converted stands as U+FFFD in the result.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace runtime {

/// `utf8` as UTF-16. False when it is not well-formed UTF-8 (a stray or
/// missing continuation byte, an overlong form, a surrogate, a value past
/// U+10FFFF); each such sequence is then one U+FFFD in `utf16`.
bool Utf8ToUtf16(std::string_view utf8, std::u16string& utf16);

/// `utf16` as UTF-8. False when it holds an unpaired surrogate, which is
/// then U+FFFD in `utf8`.
bool Utf16ToUtf8(std::u16string_view utf16, std::string& utf8);

/// The length of the longest start of the UTF-8 text `utf8` that holds at
/// most `max` bytes and does not end inside a character.
std::size_t Utf8PrefixLength(std::string_view utf8, std::size_t max);

}  // namespace runtime
