// Operating-system handles as the program sees them, and plain reads and
// writes on them. A handle is a Windows HANDLE or a POSIX file descriptor,
// held in an integer wide enough for either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace runtime {

using Handle = std::intptr_t;

/// INVALID_HANDLE_VALUE on Windows; -1 for a descriptor on POSIX.
inline constexpr Handle kInvalidHandle = -1;

/// The handle a process has when a standard stream is missing: a null
/// HANDLE on Windows, a closed descriptor (reported as -2) on POSIX, where 0
/// is a real descriptor (standard input).
extern const Handle kNullHandle;

/// Which standard handle, numbered as Windows numbers them.
enum class StdHandle : int { Input = -10, Output = -11, Error = -12 };

/// The process's standard handle, kNullHandle when it has none.
Handle GetStdHandle(StdHandle which);

/// Writes all of `bytes` (retrying short writes); returns the count written.
/// A null or invalid handle writes nothing and returns 0.
std::size_t WriteHandle(Handle h, std::string_view bytes);

/// One plain read of at most `max` bytes; empty on end of file or failure.
std::string ReadHandle(Handle h, std::size_t max);

/// True when the handle leads to an interactive terminal or console.
bool IsTerminal(Handle h);

}  // namespace runtime
