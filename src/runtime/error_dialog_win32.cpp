// The error dialog as a message box, shown only when a person sits at the
// console the program runs in. Under a service or a scheduled task, or with
// standard input redirected, nobody can answer: the caller then writes the
// text to standard error and takes the way out.
#include <windows.h>

#include "runtime/error_dialog.h"
#include "runtime/exceptions.h"
#include "runtime/handle.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {
bool SomeoneCanAnswer() {
  HWND console = ::GetConsoleWindow();
  return console != nullptr && ::IsWindowVisible(console) && IsTerminal(GetStdHandle(StdHandle::Input));
}
}  // namespace

namespace detail {

bool PlatformAsk(const std::string& text, const std::string& caption, std::uint32_t def, std::uint32_t retry,
                 std::uint32_t quit, std::uint32_t& answer) {
  if (!SomeoneCanAnswer()) return false;
  // The report of a processor exception may take as long as the person.
  const WatchdogPause pause;
  UINT buttons = MB_OK;
  if (def != 0 && retry != 0) {
    buttons = MB_ABORTRETRYIGNORE;
  } else if (retry != 0) {
    buttons = MB_RETRYCANCEL;
  } else if (def != 0) {
    buttons = MB_OKCANCEL;
  }
  int chosen = ::MessageBoxW(nullptr, WideText(text).c_str(), WideText(caption).c_str(), buttons | MB_ICONERROR | MB_TASKMODAL);
  switch (chosen) {
    case IDIGNORE:
    case IDOK:
      answer = buttons == MB_OK ? quit : def;
      return true;
    case IDRETRY:
      answer = retry;
      return true;
    case IDABORT:
    case IDCANCEL:
      answer = quit;
      return true;
    default:
      return false;  // no desktop to show it on
  }
}

bool PlatformInform(const std::string& text, const std::string& caption) {
  if (!SomeoneCanAnswer()) return false;
  return ::MessageBoxW(nullptr, WideText(text).c_str(), WideText(caption).c_str(), MB_OK | MB_TASKMODAL) > 0;
}

void PlatformTone(unsigned hertz, unsigned duration) { ::Beep(hertz, duration * 55); }

}  // namespace detail

}  // namespace runtime
