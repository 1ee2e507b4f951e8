// Who and where the process is, for names that must be unique: its process
// id, the machine's host name, and random hexadecimal digits.
#pragma once

#include <cstdint>
#include <string>

namespace runtime {

std::uint32_t ProcessId();

/// The machine's host name (fully qualified where the system knows it);
/// empty when unknown.
std::string HostName();

/// `digits` random lower-case hexadecimal digits from the system's source
/// of randomness.
std::string RandomHex(int digits);

}  // namespace runtime
