// The access token kept between runs, so that a script sending every minute
// asks the token endpoint about once an hour: one small file beside the
// settings file holding the token, its expiry and which configuration it
// belongs to (a digest, never the secret). A cache that cannot be read or
// written is no error: the token is simply fetched anew.
#pragma once

#include <cstdint>
#include <string>

namespace mailclient {

struct CachedToken {
  std::string token;
  std::int64_t expires_at = 0;  // seconds since 1970, UTC
};

/// A token is taken from the cache until this many seconds before it expires.
inline constexpr std::int64_t kTokenMargin = 300;
/// The longest a token is believed to live: a day. An endpoint that says
/// longer is taken at this, and a cached expiry further ahead (a clock set
/// back, a file edited by hand) is not believed.
inline constexpr std::int64_t kLongestTokenLife = 24 * 3600;

/// The cache file's text for `token` under the configuration `key`.
std::string TokenCacheText(const std::string& key, const CachedToken& token);
/// The token in `text` if it belongs to `key` and is still good at `now`
/// (more than kTokenMargin seconds left, and no more than kLongestTokenLife).
bool TokenFromCacheText(const std::string& text, const std::string& key, std::int64_t now, CachedToken& token);

/// The token cached in `file` for `key`, if it is still good at `now`.
bool LoadCachedToken(const std::string& file, const std::string& key, std::int64_t now, CachedToken& token);
/// Replaces `file` with `token` in one step (mode 0600 on POSIX from its
/// creation). False when it could not.
bool StoreCachedToken(const std::string& file, const std::string& key, const CachedToken& token);
/// Removes a refused token from `file`.
void DropCachedToken(const std::string& file);

namespace detail {
/// Writes `content` to a new file beside `file` and puts it in `file`'s
/// place, so that a reader sees the old file or the new one, never half.
bool ReplaceFileWith(const std::string& file, const std::string& content);
void RemoveFile(const std::string& file);
}  // namespace detail

}  // namespace mailclient
