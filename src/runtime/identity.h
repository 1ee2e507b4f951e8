// Who and where the process is, for names that must be unique: its process
// id, the machine's host name, and random hexadecimal digits; and the
// system it runs on.
#pragma once

#include <cstdint>
#include <string>

namespace runtime {

std::uint32_t ProcessId();

/// The machine's host name (fully qualified where the system knows it);
/// empty when unknown.
std::string HostName();

/// The operating system, its version and the processor architecture, for
/// a reader who must know where the program ran ("Linux 6.1.0 x86_64").
std::string PlatformName();

/// `digits` random lower-case hexadecimal digits from the system's source
/// of randomness.
std::string RandomHex(int digits);

}  // namespace runtime
