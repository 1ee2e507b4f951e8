// The three Windows facilities that the web server's log directory is found
// with: a value of a key under HKEY_LOCAL_MACHINE, the system directory and
// an environment variable. registry_win32.cpp asks Windows; on POSIX
// registry_posix.cpp stands in for them (see there). Only
// web_server_log_dir.cpp calls them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace logging::detail {

/// Opens `key_path` under HKEY_LOCAL_MACHINE for querying, creating the key
/// when it is missing and the process may create it, and reads the value
/// `value_name` into a buffer of `buffer_size` bytes. nullopt when the key
/// can neither be opened nor created; an empty text when the value is
/// missing, unreadable or does not fit the buffer. The text ends at the
/// value's first zero byte, whatever the value's type.
std::optional<std::string> QueryMachineValue(const std::string& key_path, const std::string& value_name,
                                             std::size_t buffer_size);

/// The system directory (GetSystemDirectoryA); empty when unknown or longer
/// than `buffer_size` - 1 bytes.
std::string SystemDirectory(std::size_t buffer_size);

/// The environment variable `name`; nullopt when it is not set or its value
/// does not fit a buffer of `buffer_size` bytes.
std::optional<std::string> EnvironmentValue(const std::string& name, std::size_t buffer_size);

/// The system root that stands in when "SystemRoot" is not set.
const char* DefaultSystemRoot();

}  // namespace logging::detail
