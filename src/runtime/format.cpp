#include "runtime/format.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "runtime/local_time.h"

namespace runtime {

namespace {
FormatSettings g_formats;

std::tm LocalNow(double* fraction) {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  if (fraction != nullptr) {
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    *fraction = static_cast<double>(ms) / 1000.0;
  }
  std::tm tm{};
  BrokenDownTime(t, true, tm);
  return tm;
}

std::string TwoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n % 100);
  return buf;
}
}  // namespace

const FormatSettings& Formats() { return g_formats; }
void ResetFormats() { g_formats = FormatSettings(); }

void SetDecimalSep(char c) { g_formats.decimal_sep = c; }
void SetThousandSep(char c) { g_formats.thousand_sep = c; }
void SetTimeSep(char c) { g_formats.time_sep = c; }
void SetAmPm(bool on) { g_formats.am_pm = on; }
void SetAMExt(const std::string& text) { g_formats.am_ext = text; }
void SetPMExt(const std::string& text) { g_formats.pm_ext = text; }
void SetDateFrmt(const std::string& picture) { g_formats.date_format = picture; }
void SetDecimal(int places) { g_formats.decimals = places; }
void SetCentury(bool on) { g_formats.century = on; }
void SetEpoch(int year) { g_formats.epoch = year; }
void SetInternationalMode(int mode) { g_formats.international = mode; }
void SetCollation(int mode) { g_formats.collation = mode; }

Date Today() {
  std::tm tm = LocalNow(nullptr);
  return Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string DToS(const Date& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year % 10000, d.month % 100, d.day % 100);
  return buf;
}

std::string DToC(const Date& d) {
  const std::string& pic = g_formats.date_format;
  std::string out;
  for (std::size_t i = 0; i < pic.size();) {
    if (pic.compare(i, 4, "YYYY") == 0) {
      out += g_formats.century ? std::to_string(d.year) : TwoDigits(d.year);
      i += 4;
    } else if (pic.compare(i, 2, "YY") == 0) {
      out += g_formats.century ? std::to_string(d.year) : TwoDigits(d.year);
      i += 2;
    } else if (pic.compare(i, 2, "MM") == 0) {
      out += TwoDigits(d.month);
      i += 2;
    } else if (pic.compare(i, 2, "DD") == 0) {
      out += TwoDigits(d.day);
      i += 2;
    } else {
      out += pic[i++];
    }
  }
  return out;
}

std::string Time() {
  std::tm tm = LocalNow(nullptr);
  char sep = g_formats.time_sep;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", tm.tm_hour, sep, tm.tm_min, sep, tm.tm_sec);
  return buf;
}

double Seconds() {
  double fraction = 0;
  std::tm tm = LocalNow(&fraction);
  double whole = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
  return std::floor((whole + fraction) * 100.0) / 100.0;
}

std::string Str(double value, int width, int decimals) {
  if (decimals < 0) decimals = 0;
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  std::string text = buf;
  std::size_t dot = text.find('.');
  if (dot != std::string::npos) text[dot] = g_formats.decimal_sep;
  if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  }
  return text;
}

}  // namespace runtime
