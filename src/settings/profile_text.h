// The private profile format as text: "[section]" lines, each followed by
// "key=value" lines. Finding a value and setting one, in one pass over the
// text each; names match without regard to letter case and values lose the
// blanks around them. The POSIX profile functions are built on these.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace settings {

/// The value of the first `key` in the first section named `section`.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

/// `text` with `key` in `section` set to `value`: the key's line is
/// replaced, or the key is added at the end of its section, or the section
/// is added at the end of the text. Lines that are added end in CR LF.
std::string SetProfileValue(std::string_view text, std::string_view section,
                            std::string_view key, std::string_view value);

}  // namespace settings
