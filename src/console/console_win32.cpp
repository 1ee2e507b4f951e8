#include <windows.h>

#include "console/console_platform.h"

namespace console_platform {

namespace {
HANDLE AsWin(runtime::Handle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool AllocConsole() { return ::AllocConsole() != 0; }
bool FreeConsole() { return ::FreeConsole() != 0; }

bool GetBufferInfo(runtime::Handle out, BufferInfo& info) {
  CONSOLE_SCREEN_BUFFER_INFO csbi;
  if (!::GetConsoleScreenBufferInfo(AsWin(out), &csbi)) return false;
  info.width = csbi.dwSize.X;
  info.height = csbi.dwSize.Y;
  info.cursor_x = csbi.dwCursorPosition.X;
  info.cursor_y = csbi.dwCursorPosition.Y;
  info.attribute = csbi.wAttributes;
  return true;
}

bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute) {
  return ::SetConsoleTextAttribute(AsWin(out), attribute) != 0;
}

}  // namespace console_platform
