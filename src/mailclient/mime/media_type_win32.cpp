#include <windows.h>

#include <string>

#include "mailclient/mime/media_type.h"

namespace mailclient::detail {

std::string SystemMediaType(const std::string& extension) {
  // HKEY_CLASSES_ROOT\.ext holds the type as "Content Type" when an
  // installed program registered one.
  const std::wstring key = L"." + std::wstring(extension.begin(), extension.end());
  for (char c : extension) {
    if (static_cast<unsigned char>(c) >= 0x80) return {};
  }
  wchar_t value[256];
  DWORD size = sizeof value;
  if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), L"Content Type", RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  std::string type;
  for (const wchar_t* p = value; *p != 0; ++p) {
    if (*p >= 0x80) return {};
    type += static_cast<char>(*p);
  }
  return type;
}

}  // namespace mailclient::detail
