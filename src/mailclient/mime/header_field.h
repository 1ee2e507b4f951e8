// The rules for a header line that the user adds: which names a field may
// have, which the program keeps for itself, and what a value may not hold
// so that it stays one header line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mailclient {

/// The longest field name taken, so that a name and a first encoded word
/// share a line.
inline constexpr std::size_t kMaxFieldName = 60;

/// Why "name: value" cannot be added to a message's header; nothing when it
/// can. The name must be printable ASCII without ":" (RFC 5322 section
/// 3.6.8), and none the program writes itself; the value holds no CR, LF
/// or NUL.
std::optional<std::string> HeaderFieldRefusal(std::string_view name, std::string_view value);

}  // namespace mailclient
