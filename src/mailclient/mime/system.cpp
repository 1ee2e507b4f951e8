#include "mailclient/mime/system.h"

#include "runtime/activation.h"
#include "runtime/local_time.h"

namespace mailclient {

namespace {
// Days since 1970-01-01 of a civil date (proleptic Gregorian calendar).
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

long SecondsOf(const std::tm& tm) {
  return DaysFromCivil(tm.tm_year + 1900L, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday)) *
             86400L +
         tm.tm_hour * 3600L + tm.tm_min * 60L + tm.tm_sec;
}
}  // namespace

LocalTime LocalTimeOf(std::time_t t) {
  const runtime::Activation activation("LOCALTIMEOF", __LINE__);
  std::tm local{};
  std::tm utc{};
  LocalTime result;
  if (!runtime::BrokenDownTime(t, true, local)) return result;
  if (!runtime::BrokenDownTime(t, false, utc)) utc = local;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  result.second = local.tm_sec;
  result.weekday = local.tm_wday;
  result.offset_minutes = static_cast<int>((SecondsOf(local) - SecondsOf(utc)) / 60);
  return result;
}

}  // namespace mailclient
