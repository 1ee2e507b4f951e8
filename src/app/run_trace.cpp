#include "app/run_trace.h"

#include <cstdio>
#include <ctime>

#include "app/exit_codes.h"
#include "app/postrine.h"
#include "mailclient/mime/system.h"
#include "runtime/activation.h"
#include "runtime/identity.h"
#include "runtime/private_file.h"
#include "runtime/process.h"

namespace {

const char* TlsModeName(mailclient::TlsMode mode) {
  switch (mode) {
    case mailclient::TlsMode::kAuto: return "auto";
    case mailclient::TlsMode::kStartTls: return "starttls";
    case mailclient::TlsMode::kSmtps: return "smtps";
    case mailclient::TlsMode::kOff: return "off";
  }
  return "auto";
}

// The date and time of the run with its offset from UTC.
std::string Now() {
  const mailclient::LocalTime t = mailclient::LocalTimeOf(std::time(nullptr));
  const int offset = t.offset_minutes < 0 ? -t.offset_minutes : t.offset_minutes;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %c%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.offset_minutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

}  // namespace

namespace app {

RunTrace::RunTrace(const std::string& file_name, std::chrono::steady_clock::time_point started)
    : started_(started), process_("[" + std::to_string(runtime::ProcessId()) + "] ") {
  const runtime::Activation activation("RUNTRACE:INIT", __LINE__);
  const runtime::Value name(file_name);
  const std::string path = logging::LogFileNameOf(name, false);
  runtime::FCreateNewPrivate(path);
  if (!runtime::IsRegularFile(path)) {
    broken_ = true;
    return;
  }
  log_.emplace(name);
  // Where no trace file can be made the log class would send the lines to
  // the debugger output (syslog on Linux): a trace asked for as a file is
  // not spread there.
  broken_ = !log_->Log2File();
}

void RunTrace::Event(std::string_view text) {
  const runtime::Activation activation("RUNTRACE:EVENT", __LINE__);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_).count();
  char stamp[24];
  std::snprintf(stamp, sizeof stamp, "%6lld ms  ", static_cast<long long>(ms));
  // A line the log could not take ends the trace: a file that another
  // program holds would cost every later line the log's seconds of
  // retries. Either way the run goes on as if it had been written.
  if (!broken_) broken_ = !log_->DebugMsg(process_ + stamp + std::string(text));
}

mailclient::TraceSink RunTrace::Sink() {
  const runtime::Activation activation("RUNTRACE:SINK", __LINE__);
  return [this](std::string_view text) { Event(text); };
}

void RunTrace::Outcome(int exit_code) {
  const runtime::Activation activation("RUNTRACE:OUTCOME", __LINE__);
  const std::string what = !error_.empty() ? error_ : exit_code == kExitSent ? "sent" : "not sent";
  Event("outcome: " + what + "; exit code " + std::to_string(exit_code));
}

}  // namespace app

void Postrine::StartTrace() {
  const runtime::Activation activation("POSTRINE:STARTTRACE", __LINE__);
  if (Options.trace.empty()) return;
  Trace = std::make_unique<app::RunTrace>(Options.trace, Started);
  // The settings in force, and never a password, a secret or a token.
  std::string head = Now() + " " + app::kProgramName + " on " + runtime::PlatformName() + "; server " +
                     ServerName + " port " + std::to_string(PortNumber) + "; TLS=" + TlsModeName(Options.tls) +
                     " TLSVerify=" + (Options.verify ? "on" : "off") +
                     (Options.ca_file.empty() ? "" : " CAFile=" + Options.ca_file) +
                     " Timeout=" + std::to_string(Options.timeout_seconds) + "; ";
  head += app::UserNameGiven(UserName) ? "logon as " + UserName : "no logon";
  Trace->Event(head);
}

void Postrine::EndTrace() {
  const runtime::Activation activation("POSTRINE:ENDTRACE", __LINE__);
  if (!Trace) return;
  Trace->Outcome(runtime::ErrorLevel());
  Trace.reset();
}
