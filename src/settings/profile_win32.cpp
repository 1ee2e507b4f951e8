#include <windows.h>

#include <vector>

#include "runtime/unicode.h"
#include "runtime/whole_file.h"
#include "runtime/wide_text_win32.h"
#include "settings/profile.h"
#include "settings/profile_text.h"

namespace settings::detail {

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The value as the file holds it, when the profile functions cannot give
// it exactly: they read a file without a byte-order mark in the ANSI code
// page, where a UTF-8 value (as Notepad saves it) would become other
// letters, and not every Windows knows a UTF-8 byte-order mark. A UTF-16
// file they read exactly.
std::optional<std::string> FileBytesValue(const std::string& section, const std::string& key,
                                          const std::string& file, const std::string& read) {
  std::string text;
  std::string reason;
  if (!runtime::ReadWholeFile(file, text, reason)) return std::nullopt;
  const std::string_view head = std::string_view(text).substr(0, 3);
  if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) return std::nullopt;
  if (head != "\xEF\xBB\xBF" && IsAscii(read)) return std::nullopt;
  return FindProfileValue(text, section, key);
}

}  // namespace

std::string ReadProfileKey(const std::string& section, const std::string& key,
                             const std::string& fallback, std::size_t buffer_size,
                             const std::string& file, bool& is_text) {
  is_text = true;
  if (buffer_size == 0) return {};
  std::vector<wchar_t> buffer(buffer_size + 1, L'\0');
  ::GetPrivateProfileStringW(runtime::WideText(section).c_str(), runtime::WideText(key).c_str(),
                             runtime::WideText(fallback).c_str(), buffer.data(), static_cast<DWORD>(buffer_size),
                             runtime::WideText(file).c_str());
  std::string value = runtime::TextFromWide(buffer.data());
  if (const auto bytes = FileBytesValue(section, key, file, value)) {
    is_text = runtime::TextAsUtf8(bytes->substr(0, bytes->find('\0')), value);
  }
  return value.substr(0, runtime::Utf8PrefixLength(value, buffer_size - 1));
}

bool WriteProfileKey(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  return ::WritePrivateProfileStringW(runtime::WideText(section).c_str(), runtime::WideText(key).c_str(),
                                      runtime::WideText(value).c_str(), runtime::WideText(file).c_str()) != 0;
}

}  // namespace settings::detail
