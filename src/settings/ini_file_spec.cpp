#include "settings/ini_file_spec.h"

#include <algorithm>
#include <cstdlib>

#include "runtime/activation.h"
#include "runtime/places.h"
#include "settings/profile.h"

namespace {
constexpr std::size_t kBufferSize = 8192;
}  // namespace

IniFileSpec::IniFileSpec(const std::string& file_name) : FileSpec(file_name) {
  const runtime::Activation activation("INIFILESPEC:INIT", __LINE__);
  if (Drive().empty() && Path().empty()) {
    // A bare name lives in the current directory. CurDir has no leading or
    // trailing separator on Windows ("work\mail" on drive D gives
    // "D:\work\mail\x.ini"); on POSIX it is absolute and DiskName is empty.
    const std::string sep = runtime::PathSeparator();
    std::string dir = runtime::CurDir();
    std::string full = runtime::DiskName();
    if (!full.empty()) full += sep;
    while (!dir.empty() && dir.front() == sep[0]) dir.erase(0, 1);
    while (!dir.empty() && dir.back() == sep[0]) dir.pop_back();
    if (full.empty()) full = sep;  // POSIX: CurDir is absolute
    if (!dir.empty()) full += dir + sep;
    FullPath(full + FullPath());
  }
}

std::string IniFileSpec::GetString(const std::string& section, const std::string& key,
                                   const std::string& fallback) {
  const runtime::Activation activation("INIFILESPEC:GETSTRING", __LINE__);
  bool is_text = true;
  std::string value = settings::detail::ReadProfileKey(section, key, fallback, kBufferSize, FullPath(), is_text);
  if (!is_text && std::find(unreadable_.begin(), unreadable_.end(), key) == unreadable_.end()) {
    unreadable_.push_back(key);
  }
  const std::size_t end = value.find_last_not_of(' ');
  value.resize(end == std::string::npos ? 0 : end + 1);
  return value;
}

std::string IniFileSpec::GetStringCheck(const std::string& section, const std::string& key,
                                        const std::string& fallback) {
  const runtime::Activation activation("INIFILESPEC:GETSTRINGCHECK", __LINE__);
  std::string value = GetString(section, key, "");
  if (!value.empty()) return value;
  WriteString(section, key, fallback);
  return fallback;
}

std::int64_t IniFileSpec::GetInt(const std::string& section, const std::string& key,
                                 std::int64_t fallback) {
  const runtime::Activation activation("INIFILESPEC:GETINT", __LINE__);
  const std::string text = GetString(section, key, std::to_string(fallback));
  // The leading number, as the C library reads it: "abc" gives 0.
  return std::strtoll(text.c_str(), nullptr, 10);
}

std::int64_t IniFileSpec::GetIntCheck(const std::string& section, const std::string& key,
                                      std::int64_t fallback) {
  const runtime::Activation activation("INIFILESPEC:GETINTCHECK", __LINE__);
  if (GetString(section, key, "").empty()) {
    WriteInt(section, key, fallback);
    return fallback;
  }
  return GetInt(section, key, fallback);
}

IniFileSpec& IniFileSpec::WriteString(const std::string& section, const std::string& key,
                                      const std::string& value) {
  const runtime::Activation activation("INIFILESPEC:WRITESTRING", __LINE__);
  settings::detail::WriteProfileKey(section, key, value, FullPath());
  return *this;
}

IniFileSpec& IniFileSpec::WriteInt(const std::string& section, const std::string& key,
                                   std::int64_t value) {
  const runtime::Activation activation("INIFILESPEC:WRITEINT", __LINE__);
  return WriteString(section, key, std::to_string(value));
}
