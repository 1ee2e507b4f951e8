#include <windows.h>

#include "runtime/error_structure.h"
#include "runtime/files.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {
HANDLE AsWin(Handle h) { return reinterpret_cast<HANDLE>(h); }

DWORD ShareFlags(unsigned mode) {
  switch (mode & 0xf0) {
    case FO_DENYWRITE:
      return FILE_SHARE_READ;
    case FO_DENYREAD:
      return FILE_SHARE_WRITE;
    case FO_DENYNONE:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
      return 0;  // compatibility and exclusive mode: held alone
  }
}

DWORD Access(unsigned mode) {
  switch (mode & 0x0f) {
    case FO_WRITE:
      return GENERIC_WRITE;
    case FO_READWRITE:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

bool Invalid(Handle h) { return h == kInvalidHandle || h == 0; }
}  // namespace

namespace detail {
Handle PlatformOpen(const std::string& name, unsigned mode, bool create, unsigned attributes, std::uint32_t& code) {
  const DWORD flags = create && attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  HANDLE h = ::CreateFileW(WideText(name).c_str(), create ? GENERIC_READ | GENERIC_WRITE : Access(mode),
                           create ? 0 : ShareFlags(mode), nullptr, create ? CREATE_ALWAYS : OPEN_EXISTING,
                           flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    code = ::GetLastError();
    return kInvalidHandle;
  }
  code = 0;
  return reinterpret_cast<Handle>(h);
}
}  // namespace detail

bool File(const std::string& name) {
  DWORD attributes = ::GetFileAttributesW(WideText(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FCreateNew(const std::string& name) {
  HANDLE h = ::CreateFileW(WideText(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  detail::SetFError(h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::int64_t FSeek(Handle h, std::int64_t offset, int origin) {
  const DWORD method = origin == FS_END ? FILE_END : origin == FS_RELATIVE ? FILE_CURRENT : FILE_BEGIN;
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER pos{};
  if (Invalid(h) || !::SetFilePointerEx(AsWin(h), distance, &pos, method)) {
    detail::SetFError(Invalid(h) ? ERROR_INVALID_HANDLE : ::GetLastError());
    return -1;
  }
  detail::SetFError(0);
  return pos.QuadPart;
}

std::size_t FWrite(Handle h, std::string_view bytes) {
  std::size_t done = 0;
  while (!Invalid(h) && done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AsWin(h), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      detail::SetFError(::GetLastError());
      return done;
    }
    done += written;
  }
  detail::SetFError(Invalid(h) ? ERROR_INVALID_HANDLE : 0);
  return done;
}

std::string FRead(Handle h, std::size_t max) {
  if (Invalid(h)) {
    detail::SetFError(ERROR_INVALID_HANDLE);
    return {};
  }
  std::string buf(max, '\0');
  DWORD got = 0;
  if (!::ReadFile(AsWin(h), buf.data(), static_cast<DWORD>(max), &got, nullptr)) {
    detail::SetFError(::GetLastError());
    got = 0;
  } else {
    detail::SetFError(0);
  }
  buf.resize(got);
  return buf;
}

bool FClose(Handle h) {
  bool ok = !Invalid(h) && ::CloseHandle(AsWin(h)) != 0;
  detail::SetFError(ok ? 0 : ERROR_INVALID_HANDLE);
  return ok;
}

bool FCopy(const std::string& from, const std::string& to) {
  bool ok = ::CopyFileW(WideText(from).c_str(), WideText(to).c_str(), FALSE) != 0;
  detail::SetFError(ok ? 0 : ::GetLastError());
  return ok;
}

}  // namespace runtime
