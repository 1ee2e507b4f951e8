// The user's locale, item by item, as GetLocaleInfoA gives it: the item's
// text with its terminating NUL in `buffer`, and the count of bytes
// including the NUL; 0 when the item is unknown or does not fit.
#pragma once

namespace env {

inline constexpr unsigned kLocaleSDecimal = 0x0E;
inline constexpr unsigned kLocaleSThousand = 0x0F;
inline constexpr unsigned kLocaleIDigits = 0x11;
inline constexpr unsigned kLocaleSDate = 0x1D;
inline constexpr unsigned kLocaleSTime = 0x1E;
inline constexpr unsigned kLocaleSShortDate = 0x1F;
inline constexpr unsigned kLocaleIDate = 0x21;
inline constexpr unsigned kLocaleITime = 0x23;
inline constexpr unsigned kLocaleS1159 = 0x28;
inline constexpr unsigned kLocaleS2359 = 0x29;

namespace detail {
/// On Windows GetLocaleInfoA for GetUserDefaultLCID; on POSIX the C
/// library's locale of the environment, mapped item by item.
int UserLocaleInfo(unsigned item, char* buffer, int size);
}  // namespace detail

}  // namespace env
