// The debugger output channel: OutputDebugStringA on Windows, which a
// debugger displays; syslog at debug level on POSIX. Tests may put a sink
// of their own in its place.
#pragma once

#include <string>

namespace logging {

/// Sends `text` to the debugger output.
void DebugOutput(const std::string& text);

using DebugSink = void (*)(const std::string& text);
/// Replaces the channel with `sink` (nullptr: the platform's own again);
/// returns the previous sink.
DebugSink SetDebugSink(DebugSink sink);

namespace detail {
void PlatformDebugOutput(const std::string& text);
}  // namespace detail

}  // namespace logging
