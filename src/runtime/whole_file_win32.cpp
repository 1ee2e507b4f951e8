#include <windows.h>

#include "runtime/activation.h"
#include "runtime/system_text.h"
#include "runtime/whole_file.h"

namespace runtime {

namespace {
struct FileHandle {
  HANDLE h;
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};
}  // namespace

bool ReadWholeFile(const std::string& name, std::string& content, std::string& reason) {
  const Activation activation("READWHOLEFILE", __LINE__);
  content.clear();
  FileHandle file{::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE) {
    DWORD code = ::GetLastError();
    // Opening a directory fails with "access denied"; say what it is.
    DWORD attributes = ::GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      reason = "Is a directory";
    } else {
      reason = SystemErrorText(code);
    }
    return false;
  }
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.h, &size) && size.QuadPart > 0) {
    content.resize(static_cast<std::size_t>(size.QuadPart));
  }
  std::size_t used = 0;
  char probe[65536];
  for (;;) {
    // Fill the space of the known size first; past it, read into a small
    // buffer so that a file of the expected size is never copied again.
    bool into_content = used < content.size();
    char* at = into_content ? content.data() + used : probe;
    std::size_t want = into_content ? content.size() - used : sizeof probe;
    DWORD chunk = want > 0x40000000u ? 0x40000000u : static_cast<DWORD>(want);
    DWORD got = 0;
    if (!::ReadFile(file.h, at, chunk, &got, nullptr)) {
      reason = SystemErrorText(::GetLastError());
      content.clear();
      return false;
    }
    if (got == 0) break;
    if (!into_content) {
      content.resize(used);
      content.append(probe, got);
    }
    used += got;
  }
  content.resize(used);
  return true;
}

}  // namespace runtime
