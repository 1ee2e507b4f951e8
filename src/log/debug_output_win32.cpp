#include <windows.h>

#include "log/debug_output.h"

namespace logging::detail {

void PlatformDebugOutput(const std::string& text) { ::OutputDebugStringA(text.c_str()); }

}  // namespace logging::detail
