// The platform's private profile functions: one key of one section of a
// settings file, read into a buffer of a given size or written in place.
// Windows has them built in; on POSIX profile_posix.cpp stands in for them.
// IniFileSpec is their one caller.
#pragma once

#include <cstddef>
#include <string>

namespace settings::detail {

/// The value of `key` in `section` of `file`, or `fallback` when the key,
/// its section or the file is missing; cut to `buffer_size` - 1 bytes.
/// Section and key names match without regard to letter case. On POSIX the
/// value is the file's bytes. On Windows it is UTF-8: a value saved as
/// UTF-8 (with or without a byte-order mark) is taken as it is, one that is
/// not UTF-8 is read in the ANSI code page, as Windows reads it; `is_text`
/// is set to false when it is neither (a byte that the code page does not
/// define).
std::string ReadProfileKey(const std::string& section, const std::string& key,
                             const std::string& fallback, std::size_t buffer_size,
                             const std::string& file, bool& is_text);

/// Stores `value` under `key` in `section` of `file`, adding the key, the
/// section and the file as needed. False when the file cannot be written.
bool WriteProfileKey(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file);

}  // namespace settings::detail
