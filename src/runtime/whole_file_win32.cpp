#include <windows.h>

#include "runtime/system_text.h"
#include "runtime/whole_file.h"
#include "runtime/wide_text_win32.h"

namespace runtime::detail {

bool OpenForReading(const std::string& name, Handle& h, std::uint64_t& size, bool& regular, std::string& reason) {
  const std::wstring wide = WideText(name);
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    // Opening a directory fails with "access denied"; say what it is.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    reason = directory ? "Is a directory" : SystemErrorText(code);
    return false;
  }
  h = reinterpret_cast<Handle>(file);
  // A pipe, a console, NUL or another device is not a file on a disk, and
  // neither is anything that cannot tell its size.
  LARGE_INTEGER known{};
  regular = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileSizeEx(file, &known);
  size = regular && known.QuadPart > 0 ? static_cast<std::uint64_t>(known.QuadPart) : 0;
  return true;
}

long long ReadChunk(Handle h, char* at, std::size_t room, std::string& reason) {
  const DWORD chunk = room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room);
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(h), at, chunk, &got, nullptr)) {
    reason = SystemErrorText(::GetLastError());
    return -1;
  }
  return got;
}

void CloseReading(Handle h) { ::CloseHandle(reinterpret_cast<HANDLE>(h)); }

void PrepareLargeBuffer(char*, std::size_t) {}

}  // namespace runtime::detail
