// The exit status a calling script sees (sysexits, as command-line mailers
// use them). A run-time error that ends the process keeps its own code.
#pragma once

namespace app {

inline constexpr int kExitSent = 0;
inline constexpr int kExitUsage = 64;        // a call the program cannot take; usage shown
inline constexpr int kExitBadAddress = 65;   // an address that cannot be used
inline constexpr int kExitNoInput = 66;      // the mail file cannot be read
inline constexpr int kExitUnavailable = 69;  // refused for good, or a security rule stood in the way
inline constexpr int kExitTempFail = 75;     // worth trying later: 4xx, connection, time-out
inline constexpr int kExitConfig = 78;       // a settings error

}  // namespace app
