// What the message needs from the system it is sent from: the local time
// with its offset from UTC, and the charset of the ANSI code page.
#pragma once

#include <ctime>
#include <string>

namespace mailclient {

struct LocalTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;         // 0 Sunday to 6 Saturday
  int offset_minutes = 0;  // local time minus UTC
};

/// The broken-down local time of `t`, with the zone's offset at that time.
LocalTime LocalTimeOf(std::time_t t);

/// The MIME charset name of the system's ANSI code page (on Windows the
/// active code page; elsewhere the locale's character set), for text that
/// is neither ASCII nor UTF-8.
std::string AnsiCharset();

}  // namespace mailclient
