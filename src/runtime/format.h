// Process-wide date, time and number format settings, and the conversions
// that follow them. The locale set-up fills the settings once at start-up;
// until then, and wherever the locale gives nothing, the defaults below hold.
#pragma once

#include <string>

namespace runtime {

struct FormatSettings {
  char decimal_sep = '.';
  char thousand_sep = ',';
  char time_sep = ':';
  bool am_pm = true;
  std::string am_ext = " am";
  std::string pm_ext = " pm";
  std::string date_format = "MM/DD/YY";  // "DD", "MM", "YY" or "YYYY" and a separator
  int decimals = 2;
  bool century = true;
  int epoch = 1910;
  int international = 0;  // 1: the settings follow the Windows locale
  int collation = 0;      // 1: strings compare as Windows compares them
};

/// The settings in force.
const FormatSettings& Formats();
/// Puts every setting back to its default (for tests).
void ResetFormats();

void SetDecimalSep(char c);
void SetThousandSep(char c);
void SetTimeSep(char c);
void SetAmPm(bool on);
void SetAMExt(const std::string& text);
void SetPMExt(const std::string& text);
void SetDateFrmt(const std::string& picture);
void SetDecimal(int places);
void SetCentury(bool on);
void SetEpoch(int year);
void SetInternationalMode(int mode);
void SetCollation(int mode);

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
};

/// Today's local date.
Date Today();
/// A date as eight digits: year, month, day.
std::string DToS(const Date& d);
/// A date in the current date format; with the century setting off the
/// year is shown with two digits whatever the picture says.
std::string DToC(const Date& d);
/// The local time as hh:mm:ss.
std::string Time();
/// Seconds since local midnight, to hundredths of a second.
double Seconds();

/// `value` rounded to `decimals` places with the current decimal
/// separator, right-aligned in a field of `width` characters (wider when
/// the number needs more).
std::string Str(double value, int width, int decimals);

}  // namespace runtime
