// The digest SASL's CRAM-MD5 needs (RFC 2195), from the platform's crypto
// library: OpenSSL on POSIX, CNG on Windows.
#pragma once

#include <string>
#include <string_view>

namespace mailclient {

/// HMAC-MD5 of `data` under `key`, as 32 lower-case hexadecimal digits;
/// empty when the platform cannot compute it.
std::string HmacMd5Hex(std::string_view key, std::string_view data);

}  // namespace mailclient
