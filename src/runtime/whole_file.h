// Reading a file in one piece, as bytes, with no conversion. Only a regular
// file of at most 2 GiB is read, so that a device, a pipe or a file that
// keeps growing can neither block the program nor fill its memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/handle.h"

namespace runtime {

/// The largest file ReadWholeFile takes.
inline constexpr std::uint64_t kMaxWholeFile = std::uint64_t{2} << 30;
/// The reasons ReadWholeFile gives for a file it does not read.
inline constexpr char kNotRegularFile[] = "not a regular file";
inline constexpr char kFileTooLarge[] = "larger than 2 GiB";

/// Reads the whole file `name` into `content` with a single allocation of
/// the file's size. False when the file is missing, is a directory, is not
/// a regular file ("not a regular file"), holds more than kMaxWholeFile
/// bytes, even by growing while it is read ("larger than 2 GiB"), or cannot
/// be read; `reason` then says which, otherwise in the system's words.
/// With a smaller bound `most` (a file of the program's own, which nobody
/// should find large) a file past it is refused as "larger than N bytes",
/// having cost no more memory than the bound.
bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason,
                   std::uint64_t most = kMaxWholeFile);

namespace detail {
/// Reads the open file `h` from where it stands to its end, expecting
/// `size` bytes. Reads no more than one byte past `limit`: a file found to
/// hold more is refused as too large.
bool ReadToEnd(Handle h, std::uint64_t size, std::uint64_t limit, std::string& content, std::string& reason);

/// Opens `name` for reading without ever waiting (a FIFO without a writer
/// is opened and refused at once) and tells its size and whether it is a
/// regular file. False with the system's words in `reason`; a directory is
/// refused as one.
bool OpenForReading(const std::string& name, Handle& h, std::uint64_t& size, bool& regular, std::string& reason);
/// One read of at most `room` bytes: the count, 0 at the end, -1 on failure
/// with the system's words in `reason`.
long long ReadChunk(Handle h, char* at, std::size_t room, std::string& reason);
void CloseReading(Handle h);
/// Readies a buffer that is about to be filled once from end to end.
void PrepareLargeBuffer(char* data, std::size_t size);
}  // namespace detail

}  // namespace runtime
