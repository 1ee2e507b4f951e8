#include <windows.h>

#include "mailclient/oauth/token_cache.h"
#include "runtime/identity.h"
#include "runtime/wide_text_win32.h"

namespace mailclient {

bool detail::ReplaceFileWith(const std::string& file, const std::string& content) {
  const std::wstring target = runtime::WideText(file);
  const std::wstring temp = runtime::WideText(file + "." + runtime::RandomHex(8) + ".tmp");
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
            written == content.size();
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  if (ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(temp.c_str());
  return false;
}

void detail::RemoveFile(const std::string& file) { DeleteFileW(runtime::WideText(file).c_str()); }

}  // namespace mailclient
