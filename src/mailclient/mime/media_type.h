// The media type of an attached file, from its name's extension as the
// system knows it (the registry's HKEY_CLASSES_ROOT on Windows, the table
// /etc/mime.types elsewhere), else as a built-in table of the common types
// gives it; application/octet-stream when neither tells.
#pragma once

#include <string>
#include <string_view>

namespace mailclient {

/// The media type for the file `file_name`.
std::string MediaType(const std::string& file_name);

/// The type that a table in the format of mime.types ("type ext ext...",
/// "#" comments) gives `extension` (lower case, no dot); empty when none.
std::string MediaTypeFromTable(std::string_view table, std::string_view extension);

namespace detail {
/// The system's type for `extension` (lower case, no dot); empty when it
/// knows none.
std::string SystemMediaType(const std::string& extension);
}  // namespace detail

}  // namespace mailclient
