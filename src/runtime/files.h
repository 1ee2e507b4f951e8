// The run-time's file operations: open, create, seek, read, write and close
// on handles, with the sharing modes of the Windows file system. A sharing
// or lock conflict on open is raised as an error record (GenCode 21, OsCode
// 32 or 33, can default and retry) to the handler slot; every other failure
// gives the invalid handle or a short count, with its system code in FError.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/handle.h"

namespace runtime {

// Access modes, and the sharing modes that may be added to them. No sharing
// flag (compatibility mode) holds the file exclusively, as FO_EXCLUSIVE.
inline constexpr unsigned FO_READ = 0x00;
inline constexpr unsigned FO_WRITE = 0x01;
inline constexpr unsigned FO_READWRITE = 0x02;
inline constexpr unsigned FO_EXCLUSIVE = 0x10;
inline constexpr unsigned FO_DENYWRITE = 0x20;
inline constexpr unsigned FO_DENYREAD = 0x30;
inline constexpr unsigned FO_DENYNONE = 0x40;
inline constexpr unsigned FO_SHARED = 0x40;

// File attributes for FCreate.
inline constexpr unsigned FC_NORMAL = 0x00;
inline constexpr unsigned FC_READONLY = 0x01;
inline constexpr unsigned FC_HIDDEN = 0x02;
inline constexpr unsigned FC_SYSTEM = 0x04;
inline constexpr unsigned FC_ARCHIVED = 0x20;

// Seek origins.
inline constexpr int FS_SET = 0;
inline constexpr int FS_RELATIVE = 1;
inline constexpr int FS_END = 2;

/// True when a file (not a directory) of that name exists.
bool File(const std::string& name);
/// Opens an existing file; the invalid handle on failure.
Handle FOpen(const std::string& name, unsigned mode = FO_READ);
/// Creates a file, or truncates an existing one, open for reading and
/// writing and held exclusively; the invalid handle on failure. A file that
/// another handle holds is left as it is.
Handle FCreate(const std::string& name, unsigned attributes = FC_NORMAL);
/// Creates an empty file where no file of that name exists, and leaves an
/// existing one as it is, in one step that no other process can come
/// between. True when it was created.
bool FCreateNew(const std::string& name);
/// Moves the file position; the new position, or -1 on failure.
std::int64_t FSeek(Handle h, std::int64_t offset, int origin = FS_SET);
/// Writes the bytes; the count written.
std::size_t FWrite(Handle h, std::string_view bytes);
/// Writes the text and CR LF; the count written.
std::size_t FPutS(Handle h, std::string_view text);
/// Reads at most `max` bytes; empty at the end or on failure.
std::string FRead(Handle h, std::size_t max);
/// Closes the handle; false when it was not open.
bool FClose(Handle h);
/// Copies a file, replacing the target; false on failure.
bool FCopy(const std::string& from, const std::string& to);
/// The system code (a Windows system error code on every platform) of the
/// last failed file operation; 0 after a success.
std::uint32_t FError();

namespace detail {
/// The platform's open: `create` creates or truncates. On failure returns
/// kInvalidHandle with the system code in `code` (kOsSharingViolation when
/// another handle holds the file).
Handle PlatformOpen(const std::string& name, unsigned mode, bool create, unsigned attributes, std::uint32_t& code);
void SetFError(std::uint32_t code);
}  // namespace detail

}  // namespace runtime
