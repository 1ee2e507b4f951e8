#include "runtime/handle.h"

#include <windows.h>

#include "runtime/wide_text_win32.h"

namespace runtime {

// A standard handle the process lacks is null.
const Handle kNullHandle = 0;

namespace {
HANDLE AsWin(Handle h) { return reinterpret_cast<HANDLE>(h); }

// A console shows wide text whatever its code page, so the program's
// (UTF-8) lines go to it as such. A redirected handle gets the bytes as they
// are: UTF-8, which is ASCII for ASCII text.
bool WriteConsoleText(HANDLE h, std::string_view bytes) {
  const std::wstring wide = WideText(bytes);
  std::size_t done = 0;
  while (done < wide.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!::WriteConsoleW(h, wide.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}
}  // namespace

Handle GetStdHandle(StdHandle which) {
  HANDLE h = ::GetStdHandle(static_cast<DWORD>(static_cast<int>(which)));
  return reinterpret_cast<Handle>(h);
}

std::size_t WriteHandle(Handle h, std::string_view bytes) {
  if (h == kInvalidHandle || h == kNullHandle) return 0;
  DWORD mode = 0;
  if (::GetConsoleMode(AsWin(h), &mode)) return WriteConsoleText(AsWin(h), bytes) ? bytes.size() : 0;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(AsWin(h), bytes.data() + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  return done;
}

std::string ReadHandle(Handle h, std::size_t max) {
  if (h == kInvalidHandle || h == kNullHandle || max == 0) return {};
  std::string buf(max, '\0');
  DWORD got = 0;
  if (!::ReadFile(AsWin(h), buf.data(), static_cast<DWORD>(max), &got, nullptr)) got = 0;
  buf.resize(got);
  return buf;
}

bool IsTerminal(Handle h) {
  DWORD mode = 0;
  return h != kInvalidHandle && h != kNullHandle && ::GetConsoleMode(AsWin(h), &mode) != 0;
}

}  // namespace runtime
