// Reading a file in one piece, as bytes, with no conversion.
#pragma once

#include <string>

namespace runtime {

/// The whole content of the file `name`; empty when it cannot be read.
std::string MemoRead(const std::string& name);

/// Reads the whole file `name` into `content` with a single allocation of
/// the file's size. False when the file is missing, is a directory or
/// cannot be read; `reason` then holds the system's words for it.
bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason);

}  // namespace runtime
