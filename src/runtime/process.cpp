#include "runtime/process.h"

#include <cstdlib>

#include "runtime/activation.h"

namespace runtime {

// PlatformSleepFor is in process_posix.cpp / process_win32.cpp.

namespace {
PauseFunction g_pause = nullptr;
int g_error_level = 0;
bool g_quit_without_cleanup = false;

bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  return arg.find_first_of(" \t\r\n\"\\") != std::string::npos;
}
}  // namespace

std::string JoinCommandLine(const std::vector<std::string>& args) {
  // The tokeniser reads a backslash as an escape inside quotes, a quote
  // followed by a blank as the end of the token, and a doubled quote as one
  // quote: the encoding below uses exactly those three rules.
  std::string line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i > 0) line += ' ';
    if (!NeedsQuotes(arg)) {
      line += arg;
      continue;
    }
    line += '"';
    for (std::size_t k = 0; k < arg.size(); ++k) {
      char c = arg[k];
      if (c == '\\') {
        line += "\\\\";
      } else if (c == '"') {
        bool blank_follows = k + 1 < arg.size() && arg[k + 1] == ' ';
        line += blank_follows ? "\\\"" : "\"\"";
      } else {
        line += c;
      }
    }
    bool last = i + 1 == args.size();
    // A final backslash would escape the closing quote; as the last
    // argument the quote can simply stay open.
    if (!(last && !arg.empty() && arg.back() == '\\')) line += '"';
  }
  return line;
}

void Sleep(unsigned ms) {
  const Activation activation("SLEEP", __LINE__);
  if (g_pause != nullptr) {
    g_pause(ms);
  } else {
    PlatformSleepFor(ms);
  }
}

PauseFunction SetPauseFunction(PauseFunction fn) {
  PauseFunction old = g_pause;
  g_pause = fn;
  return old;
}

void Quit(int code) {
  SetErrorLevel(code);
  if (g_quit_without_cleanup) std::_Exit(code);
  std::exit(code);
}

void QuitWithoutCleanup() { g_quit_without_cleanup = true; }

void SetErrorLevel(int code) { g_error_level = code; }
int ErrorLevel() { return g_error_level; }

}  // namespace runtime
