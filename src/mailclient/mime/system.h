// What the message needs from the system it is sent from: the local time
// with its offset from UTC, and international domain names as A-labels.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

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

/// The IDNA form of a UTF-8 domain name, every label that is not ASCII
/// made an A-label ("xn--..."). False when the name is no valid
/// international domain name.
bool DomainToAscii(const std::string& utf8, std::string& ascii);

}  // namespace mailclient
