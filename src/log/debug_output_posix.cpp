#include <syslog.h>

#include "log/debug_output.h"

namespace logging::detail {

// Debug-level syslog is what nobody sees unless they ask for it, as with a
// debugger's output on Windows.
void PlatformDebugOutput(const std::string& text) { ::syslog(LOG_USER | LOG_DEBUG, "%s", text.c_str()); }

}  // namespace logging::detail
