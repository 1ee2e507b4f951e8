// The digest SASL's CRAM-MD5 needs (RFC 2195), from the platform's crypto
// library: OpenSSL on POSIX, CNG on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mailclient {

/// HMAC-MD5 of `data` under `key`, as 32 lower-case hexadecimal digits;
/// empty when the platform cannot compute it.
std::string HmacMd5Hex(std::string_view key, std::string_view data);

namespace detail {
inline constexpr std::size_t kMd5Size = 16;
/// The platform's HMAC-MD5 into `mac`; false when it cannot compute it.
bool HmacMd5(std::string_view key, std::string_view data, unsigned char (&mac)[kMd5Size]);
}  // namespace detail

}  // namespace mailclient
