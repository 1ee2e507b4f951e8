#include <windows.h>

#include "runtime/file_source.h"
#include "runtime/standard_streams.h"
#include "runtime/system_text.h"

namespace runtime::detail {

bool CreateSpool(Handle& h, std::string& reason) {
  wchar_t dir[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, dir);
  if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(dir, L"pst", 0, name) == 0) {
    reason = SystemErrorText(::GetLastError());
    return false;
  }
  // The temporary folder is the user's own; the file goes with the last
  // handle, however the process ends.
  const HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    reason = SystemErrorText(::GetLastError());
    ::DeleteFileW(name);
    return false;
  }
  h = reinterpret_cast<Handle>(file);
  return true;
}

bool WriteSpool(Handle h, const char* data, std::size_t size, std::string& reason) {
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(h), data, chunk, &written, nullptr) || written == 0) {
      reason = SystemErrorText(::GetLastError());
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

long long ReadStandardInput(char* at, std::size_t room, std::string& reason) {
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (StandardInputClosed() || in == nullptr || in == INVALID_HANDLE_VALUE) {
    reason = kStandardInputClosed;
    return -1;
  }
  const DWORD chunk = room > 0x40000000u ? 0x40000000u : static_cast<DWORD>(room);
  DWORD got = 0;
  if (::ReadFile(in, at, chunk, &got, nullptr)) return got;
  const DWORD code = ::GetLastError();
  // The writer of a pipe has closed its end: that is the end of the input.
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
  reason = SystemErrorText(code);
  return -1;
}

bool RewindReading(Handle h, std::string& reason) {
  LARGE_INTEGER start{};
  if (::SetFilePointerEx(reinterpret_cast<HANDLE>(h), start, nullptr, FILE_BEGIN)) return true;
  reason = SystemErrorText(::GetLastError());
  return false;
}

}  // namespace runtime::detail
