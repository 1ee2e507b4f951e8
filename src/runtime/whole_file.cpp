#include "runtime/whole_file.h"

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

bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason) {
  const Activation activation("READWHOLEFILE", __LINE__);
  content.clear();
  ReadingHandle file;
  std::uint64_t size = 0;
  if (!detail::OpenForReading(name, file.h, size, reason)) return false;
  // The size is a first guess only: a file that grows or a pipe still
  // reads to its end.
  const auto expected = static_cast<std::size_t>(size);
  content.reserve(expected);
  detail::PrepareLargeBuffer(content.data(), expected);
  content.resize(expected);
  std::size_t used = 0;
  char probe[65536];
  for (;;) {
    // Fill the space of the known size first; past it, read into a small
    // buffer so that a file of the expected size is never copied again.
    const bool into_content = used < content.size();
    char* at = into_content ? content.data() + used : probe;
    const std::size_t room = into_content ? content.size() - used : sizeof probe;
    const long long n = detail::ReadChunk(file.h, at, room, reason);
    if (n < 0) {
      content.clear();
      return false;
    }
    if (n == 0) break;
    if (!into_content) {
      content.resize(used);
      content.append(probe, static_cast<std::size_t>(n));
    }
    used += static_cast<std::size_t>(n);
  }
  content.resize(used);
  return true;
}

}  // namespace runtime
