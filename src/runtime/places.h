// Where the process is: its current drive and directory and its work
// directory (the executable's own directory), and the default path and
// directory settings.
#pragma once

#include <string>

namespace runtime {

/// The path separator of the platform: "\\" on Windows, "/" on POSIX.
const char* PathSeparator();

/// The current drive ("C:") on Windows; empty on POSIX.
std::string DiskName();
/// The current directory without the drive and with no trailing separator
/// ("\\work\\dir" on Windows, "/work/dir" on POSIX; the root is empty).
std::string CurDir();
/// The executable's directory, ending in the separator.
std::string WorkDir();
/// Puts the work directory elsewhere (tests); empty returns it to the
/// executable's directory.
void SetWorkDir(const std::string& dir);

/// The run-time's default path and default directory settings, empty until
/// set; an empty value clears them.
std::string GetDefault();
void SetDefault(const std::string& path);
std::string GetDefaultDir();
void SetDefaultDir(const std::string& dir);

}  // namespace runtime
