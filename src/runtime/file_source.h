// A file read from disk in chunks, as often as a caller needs to pass over
// it: a message's body and attachments are read once to learn their size
// and content and again while they are sent, so that memory does not grow
// with them. Standard input is copied to a private temporary file first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/handle.h"

namespace runtime {

class FileSource {
 public:
  FileSource() = default;
  ~FileSource();
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  /// Opens `name` with the checks of ReadWholeFile: false, with the reason,
  /// for a file that is missing, a directory, not a regular file or larger
  /// than kMaxWholeFile.
  bool Open(const std::string& name, std::string& reason);
  /// Reads standard input to its end into a temporary file that only this
  /// process can reach (mode 0600, removed from its directory at once on
  /// POSIX, deleted when closed on Windows), and opens that. Input beyond
  /// kMaxWholeFile is refused as too large.
  bool OpenStandardInput(std::string& reason);

  /// The size when opened (the file may change on disk afterwards).
  std::uint64_t Size() const { return size_; }
  /// Back to the first byte, for another pass.
  bool Rewind(std::string& reason);
  /// One read of at most `room` bytes: the count, 0 at the end, -1 on
  /// failure with the system's words in `reason`.
  long long Read(char* at, std::size_t room, std::string& reason);

 private:
  void Close();

  Handle h_ = kInvalidHandle;
  std::uint64_t size_ = 0;
};

namespace detail {
/// Creates an empty private temporary file open for reading and writing,
/// gone from the disk once closed (or at once, where the system allows).
bool CreateSpool(Handle& h, std::string& reason);
/// Writes all of `size` bytes; false with the system's words.
bool WriteSpool(Handle h, const char* data, std::size_t size, std::string& reason);
/// One read of standard input: the count, 0 at its end, -1 on failure.
long long ReadStandardInput(char* at, std::size_t room, std::string& reason);
bool RewindReading(Handle h, std::string& reason);
}  // namespace detail

}  // namespace runtime
