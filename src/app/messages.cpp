// What the command shows: the usage text, the error line and the message
// identifier. Refusals and failures are red and stay on screen 5 seconds,
// so that a console window opened only for the run can be read before it
// closes.
#include "app/postrine.h"
#include "runtime/activation.h"
#include "runtime/format.h"
#include "runtime/process.h"

namespace {
constexpr unsigned kPauseMs = 5000;
constexpr int kBrightRed = 12;
constexpr int kBrightWhite = 15;
}  // namespace

void Postrine::OutputUsage() {
  const runtime::Activation activation("POSTRINE:OUTPUTUSAGE", __LINE__);
  ConsoleWindow.TextAttribute(kBrightRed);
  ConsoleWindow.WriteLine("Usage: postrine [-s subject] mailfilename recipient[,recipient2]");
  runtime::Sleep(kPauseMs);
}

void Postrine::WriteError(const std::string& message) {
  const runtime::Activation activation("POSTRINE:WRITEERROR", __LINE__);
  if (Trace) Trace->ErrorShown(message);
  ConsoleWindow.TextAttribute(kBrightRed);
  ConsoleWindow.WriteLine(message);
  ConsoleWindow.TextAttribute(kBrightWhite);
  runtime::Sleep(kPauseMs);
}

std::string Postrine::GetTimeStamp() {
  const runtime::Activation activation("POSTRINE:GETTIMESTAMP", __LINE__);
  const std::string date = runtime::DToS(runtime::Today());
  std::string seconds = runtime::Str(runtime::Seconds(), 18, runtime::Formats().decimals);
  const std::size_t first = seconds.find_first_not_of(' ');
  const std::size_t last = seconds.find_last_not_of(' ');
  seconds = first == std::string::npos ? std::string() : seconds.substr(first, last - first + 1);
  return date + seconds + "@" + Sender;
}
