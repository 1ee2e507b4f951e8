#include "env/international.h"

#include <string>
#include <vector>

#include "env/locale_info.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/error_slot.h"
#include "runtime/format.h"
#include "runtime/recovery.h"
#include "runtime/texts.h"

namespace {
constexpr int kBufferSize = 64;
env::LocaleSource g_source;

// Puts the handler back on every way out of SetInternational.
class HandlerRestore {
 public:
  explicit HandlerRestore(runtime::ErrorHandler previous) : previous_(std::move(previous)) {}
  ~HandlerRestore() { runtime::ErrorBlock(std::move(previous_)); }
  HandlerRestore(const HandlerRestore&) = delete;
  HandlerRestore& operator=(const HandlerRestore&) = delete;

 private:
  runtime::ErrorHandler previous_;
};

// One query into the shared buffer; the item's text, or false.
bool Query(unsigned item, std::vector<char>& buffer, std::string& text) {
  const int count = g_source ? g_source(item, buffer.data(), kBufferSize)
                             : env::detail::UserLocaleInfo(item, buffer.data(), kBufferSize);
  if (count <= 0) return false;
  text.assign(buffer.data(), static_cast<std::size_t>(count - 1));
  return true;
}

char FirstByte(const std::string& text) { return text.empty() ? '\0' : text[0]; }

void ApplyLocale() {
  runtime::SetInternationalMode(1);
  std::vector<char> buffer(kBufferSize);
  std::string text;
  runtime::SetDecimalSep(Query(env::kLocaleSDecimal, buffer, text) ? FirstByte(text) : '.');
  runtime::SetThousandSep(Query(env::kLocaleSThousand, buffer, text) ? FirstByte(text) : ',');
  runtime::SetTimeSep(Query(env::kLocaleSTime, buffer, text) ? FirstByte(text) : ':');
  // "0" in the locale means a 12-hour clock.
  const double itime = Query(env::kLocaleITime, buffer, text) ? runtime::Val(text) : 0;
  runtime::SetAmPm(itime == 0);
  runtime::SetAMExt(Query(env::kLocaleS1159, buffer, text) ? " " + text : " am");
  runtime::SetPMExt(Query(env::kLocaleS2359, buffer, text) ? " " + text : " pm");

  const int order = Query(env::kLocaleIDate, buffer, text) ? static_cast<int>(runtime::Val(text)) : 0;
  const std::string sep = Query(env::kLocaleSDate, buffer, text) ? text.substr(0, 1) : "/";
  const std::string short_date = Query(env::kLocaleSShortDate, buffer, text) ? runtime::AsciiUpper(text) : "mm/dd/yy";
  const std::string year = short_date.find("YYYY") != std::string::npos ? "YYYY" : "YY";
  if (order == 1) {
    runtime::SetDateFrmt("DD" + sep + "MM" + sep + year);
  } else if (order == 2) {
    runtime::SetDateFrmt(year + sep + "MM" + sep + "DD");
  } else {
    runtime::SetDateFrmt("MM" + sep + "DD" + sep + year);
  }
  runtime::SetDecimal(Query(env::kLocaleIDigits, buffer, text) ? static_cast<int>(runtime::Val(text)) : 2);
  runtime::SetCollation(1);
  runtime::SetCentury(true);
  runtime::SetEpoch(1910);
}
}  // namespace

namespace env {

LocaleSource SetLocaleSource(LocaleSource source) {
  LocaleSource previous = std::move(g_source);
  g_source = std::move(source);
  return previous;
}

}  // namespace env

void SetInternational(const runtime::Symbol& mode) {
  const runtime::Activation activation("SETINTERNATIONAL", __LINE__);
  if (runtime::AsciiUpper(mode.name) != "WINDOWS") return;
  // Any run-time error while the settings are applied ends the work at the
  // recovery point below, with no message; what was set stays set.
  const HandlerRestore restore(
      runtime::ErrorBlock([](const runtime::Value& record) -> runtime::Value { runtime::Break(record); }));
  runtime::RunRecoveryPoint(ApplyLocale);
}
