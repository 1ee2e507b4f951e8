// The system's own words for an error code (errno on POSIX, a Win32 or
// Winsock code on Windows), for messages that quote the reason.
#pragma once

#include <string>

namespace runtime {

std::string SystemErrorText(unsigned long code);

}  // namespace runtime
