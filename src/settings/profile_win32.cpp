#include <windows.h>

#include <vector>

#include "settings/profile.h"

namespace settings::detail {

std::string ReadProfileKey(const std::string& section, const std::string& key,
                             const std::string& fallback, std::size_t buffer_size,
                             const std::string& file) {
  std::vector<char> buffer(buffer_size + 1, '\0');
  ::GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                             static_cast<DWORD>(buffer_size), file.c_str());
  return std::string(buffer.data());
}

bool WriteProfileKey(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

}  // namespace settings::detail
