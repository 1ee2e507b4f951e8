#include "runtime/file_source.h"

#include <vector>

#include "runtime/activation.h"
#include "runtime/whole_file.h"

namespace runtime {

FileSource::~FileSource() { Close(); }

void FileSource::Close() {
  if (h_ != kInvalidHandle) detail::CloseReading(h_);
  h_ = kInvalidHandle;
  size_ = 0;
}

bool FileSource::Open(const std::string& name, std::string& reason) {
  const Activation activation("FILESOURCE:OPEN", __LINE__);
  Close();
  std::uint64_t size = 0;
  bool regular = false;
  if (!detail::OpenForReading(name, h_, size, regular, reason)) {
    h_ = kInvalidHandle;
    return false;
  }
  if (!regular || size > kMaxWholeFile) {
    reason = regular ? kFileTooLarge : kNotRegularFile;
    Close();
    return false;
  }
  size_ = size;
  return true;
}

bool FileSource::OpenStandardInput(std::string& reason) {
  const Activation activation("FILESOURCE:OPENSTANDARDINPUT", __LINE__);
  Close();
  if (!detail::CreateSpool(h_, reason)) {
    h_ = kInvalidHandle;
    return false;
  }
  std::vector<char> buffer(64 * 1024);
  std::uint64_t total = 0;
  for (;;) {
    const long long n = detail::ReadStandardInput(buffer.data(), buffer.size(), reason);
    if (n == 0) break;
    total += n > 0 ? static_cast<std::uint64_t>(n) : 0;
    if (n < 0 || total > kMaxWholeFile ||
        !detail::WriteSpool(h_, buffer.data(), static_cast<std::size_t>(n), reason)) {
      if (n > 0 && total > kMaxWholeFile) reason = kFileTooLarge;
      Close();
      return false;
    }
  }
  size_ = total;
  return Rewind(reason);
}

bool FileSource::Rewind(std::string& reason) {
  const Activation activation("FILESOURCE:REWIND", __LINE__);
  return detail::RewindReading(h_, reason);
}

long long FileSource::Read(char* at, std::size_t room, std::string& reason) {
  return detail::ReadChunk(h_, at, room, reason);
}

}  // namespace runtime
