#include "runtime/error_dialog.h"

#include "runtime/handle.h"

namespace runtime {

namespace {
DialogServices g_services;

// Nobody to answer: the text and the caption go to standard error.
void ToStandardError(const std::string& text, const std::string& caption) {
  std::string report = caption + "\r\n" + text;
  if (report.size() < 2 || report.compare(report.size() - 2, 2, "\r\n") != 0) report += "\r\n";
  WriteHandle(GetStdHandle(StdHandle::Error), report);
}
}  // namespace

std::uint32_t ErrorMessageBox(const std::string& text, const std::string& caption, std::uint32_t default_option,
                              std::uint32_t retry_option, std::uint32_t quit_option) {
  if (g_services.ask) return g_services.ask(text, caption, default_option, retry_option, quit_option);
  std::uint32_t answer = quit_option;
  if (detail::PlatformAsk(text, caption, default_option, retry_option, quit_option, answer)) return answer;
  ToStandardError(text, caption);
  return quit_option;
}

void InfoBox(const std::string& text, const std::string& caption) {
  if (g_services.inform) {
    g_services.inform(text, caption);
    return;
  }
  if (!detail::PlatformInform(text, caption)) ToStandardError(text, caption);
}

void Tone(unsigned hertz, unsigned duration) {
  if (g_services.tone) {
    g_services.tone(hertz, duration);
    return;
  }
  detail::PlatformTone(hertz, duration);
}

DialogServices SetDialogServices(DialogServices services) {
  DialogServices previous = std::move(g_services);
  g_services = std::move(services);
  return previous;
}

}  // namespace runtime
