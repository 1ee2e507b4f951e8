// Reading a file in one piece, as bytes, with no conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/handle.h"

namespace runtime {

/// Reads the whole file `name` into `content` with a single allocation of
/// the file's size. False when the file is missing, is a directory or
/// cannot be read; `reason` then holds the system's words for it.
bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason);

namespace detail {
/// Opens `name` for reading and tells its size (0 when unknown). False with
/// the system's words in `reason`; a directory is refused as one.
bool OpenForReading(const std::string& name, Handle& h, std::uint64_t& size, std::string& reason);
/// One read of at most `room` bytes: the count, 0 at the end, -1 on failure
/// with the system's words in `reason`.
long long ReadChunk(Handle h, char* at, std::size_t room, std::string& reason);
void CloseReading(Handle h);
/// Readies a buffer that is about to be filled once from end to end.
void PrepareLargeBuffer(char* data, std::size_t size);
}  // namespace detail

}  // namespace runtime
