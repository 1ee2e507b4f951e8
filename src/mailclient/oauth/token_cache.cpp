#include "mailclient/oauth/token_cache.h"

#include "runtime/activation.h"
#include "runtime/whole_file.h"

namespace mailclient {

namespace {

constexpr char kHeading[] = "postrine token cache 1";
constexpr std::size_t kMaxCacheFile = 64 * 1024;

// The value of the line "name value" in `text`; false when there is none.
bool Field(const std::string& text, const std::string& name, std::string& value) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == ' ') {
      value = line.substr(name.size() + 1);
      return true;
    }
    at = end + 1;
  }
  return false;
}

}  // namespace

std::string TokenCacheText(const std::string& key, const CachedToken& token) {
  const runtime::Activation activation("TOKENCACHETEXT", __LINE__);
  return std::string(kHeading) + "\nkey " + key + "\nexpires " + std::to_string(token.expires_at) + "\ntoken " +
         token.token + "\n";
}

bool TokenFromCacheText(const std::string& text, const std::string& key, std::int64_t now, CachedToken& token) {
  const runtime::Activation activation("TOKENFROMCACHETEXT", __LINE__);
  if (text.compare(0, sizeof kHeading - 1, kHeading) != 0) return false;
  std::string stored_key;
  std::string expires;
  std::string value;
  if (!Field(text, "key", stored_key) || stored_key != key) return false;
  if (!Field(text, "expires", expires) || !Field(text, "token", value) || value.empty()) return false;
  if (expires.empty() || expires.size() > 18 || expires.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const std::int64_t at = std::stoll(expires);
  if (at - kTokenMargin <= now || at - now > kLongestTokenLife) return false;
  token = {value, at};
  return true;
}

bool LoadCachedToken(const std::string& file, const std::string& key, std::int64_t now, CachedToken& token) {
  const runtime::Activation activation("LOADCACHEDTOKEN", __LINE__);
  std::string text;
  std::string reason;
  // Read no further than the bound: the file is the program's own, and one
  // grown huge (by accident or on purpose) must not fill the memory.
  if (!runtime::ReadWholeFile(file, text, reason, kMaxCacheFile)) return false;
  return TokenFromCacheText(text, key, now, token);
}

bool StoreCachedToken(const std::string& file, const std::string& key, const CachedToken& token) {
  const runtime::Activation activation("STORECACHEDTOKEN", __LINE__);
  return detail::ReplaceFileWith(file, TokenCacheText(key, token));
}

void DropCachedToken(const std::string& file) {
  const runtime::Activation activation("DROPCACHEDTOKEN", __LINE__);
  detail::RemoveFile(file);
}

}  // namespace mailclient
