#include "runtime/whole_file.h"

#include <algorithm>

#include "runtime/activation.h"

namespace runtime {

namespace {
struct ReadingHandle {
  Handle h = kInvalidHandle;
  ~ReadingHandle() {
    if (h != kInvalidHandle) detail::CloseReading(h);
  }
};
}  // namespace

bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason, std::uint64_t most) {
  const Activation activation("READWHOLEFILE", __LINE__);
  content.clear();
  ReadingHandle file;
  std::uint64_t size = 0;
  bool regular = false;
  if (!detail::OpenForReading(name, file.h, size, regular, reason)) return false;
  if (!regular) {
    reason = kNotRegularFile;
    return false;
  }
  const std::uint64_t limit = std::min(most, kMaxWholeFile);
  const std::string too_large = limit == kMaxWholeFile ? kFileTooLarge : "larger than " + std::to_string(limit) + " bytes";
  if (size > limit) {
    reason = too_large;
    return false;
  }
  if (detail::ReadToEnd(file.h, size, limit, content, reason)) return true;
  // A file that grew past the bound while it was read.
  if (reason == kFileTooLarge) reason = too_large;
  return false;
}

namespace detail {

bool ReadToEnd(Handle h, std::uint64_t size, std::uint64_t limit, std::string& content, std::string& reason) {
  const Activation activation("READTOEND", __LINE__);
  content.clear();
  // The size is a first guess only: a file that grows still reads to its
  // end, but never further than one byte past the limit.
  const auto expected = static_cast<std::size_t>(std::min(size, limit));
  content.reserve(expected);
  PrepareLargeBuffer(content.data(), expected);
  content.resize(expected);
  std::uint64_t used = 0;
  char probe[65536];
  for (;;) {
    // Fill the space of the known size first; past it, read into a small
    // buffer so that a file of the expected size is never copied again.
    const bool into_content = used < content.size();
    char* at = into_content ? content.data() + used : probe;
    const std::uint64_t allowed = limit + 1 - used;
    const std::size_t room = static_cast<std::size_t>(
        std::min<std::uint64_t>(into_content ? content.size() - used : sizeof probe, allowed));
    const long long n = ReadChunk(h, at, room, reason);
    if (n < 0) {
      content.clear();
      return false;
    }
    if (n == 0) break;
    if (!into_content) {
      content.resize(static_cast<std::size_t>(used));
      content.append(probe, static_cast<std::size_t>(n));
    }
    used += static_cast<std::uint64_t>(n);
    if (used > limit) {
      content.clear();
      content.shrink_to_fit();
      reason = kFileTooLarge;
      return false;
    }
  }
  content.resize(static_cast<std::size_t>(used));
  return true;
}

}  // namespace detail

}  // namespace runtime
