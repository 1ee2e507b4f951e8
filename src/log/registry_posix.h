// The POSIX stand-in for HKEY_LOCAL_MACHINE: a private profile file in
// which each key is a section named by the key's path, backslashes and all,
// and each value a key=value line. Tests point it elsewhere.
#pragma once

#include <string>

namespace logging {

/// The stand-in file read by default.
inline constexpr const char* kMachineRegistryFile = "/etc/postrine/registry.ini";

/// Reads the stand-in from `file` from now on; returns the previous file.
std::string SetMachineRegistryFile(std::string file);

}  // namespace logging
