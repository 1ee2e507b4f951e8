// The console functions of Windows, called as they are.
#include <windows.h>

#include "console/console_platform.h"

namespace console::detail {

namespace {
HANDLE AsWin(runtime::Handle h) { return reinterpret_cast<HANDLE>(h); }
COORD AsWin(Coord c) { return COORD{c.x, c.y}; }

class Win32Console final : public ConsoleApi {
 public:
  bool AllocConsole() override { return ::AllocConsole() != 0; }
  bool FreeConsole() override { return ::FreeConsole() != 0; }

  std::uint32_t GetTitle(std::string& title, std::uint32_t limit) override {
    std::string buffer(limit + 1, '\0');
    DWORD n = ::GetConsoleTitleA(buffer.data(), limit);
    if (n == 0) return 0;
    title.assign(buffer.c_str());
    return n;
  }
  bool SetTitle(const std::string& title) override { return ::SetConsoleTitleA(title.c_str()) != 0; }

  bool GetBufferInfo(runtime::Handle out, BufferInfo& info) override {
    CONSOLE_SCREEN_BUFFER_INFO csbi;
    if (!::GetConsoleScreenBufferInfo(AsWin(out), &csbi)) return false;
    info.size = {csbi.dwSize.X, csbi.dwSize.Y};
    info.cursor = {csbi.dwCursorPosition.X, csbi.dwCursorPosition.Y};
    info.attribute = csbi.wAttributes;
    return true;
  }
  bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute) override {
    return ::SetConsoleTextAttribute(AsWin(out), attribute) != 0;
  }
  Coord GetLargestWindowSize(runtime::Handle out) override {
    COORD c = ::GetLargestConsoleWindowSize(AsWin(out));
    return {c.X, c.Y};
  }
  bool SetWindowInfo(runtime::Handle out, const Rect& window) override {
    SMALL_RECT r{window.left, window.top, window.right, window.bottom};
    return ::SetConsoleWindowInfo(AsWin(out), TRUE, &r) != 0;
  }
  bool SetBufferSize(runtime::Handle out, Coord size) override {
    return ::SetConsoleScreenBufferSize(AsWin(out), AsWin(size)) != 0;
  }
  bool GetCursorInfo(runtime::Handle out, CursorInfo& info) override {
    CONSOLE_CURSOR_INFO cci;
    if (!::GetConsoleCursorInfo(AsWin(out), &cci)) return false;
    info.size = cci.dwSize;
    info.visible = cci.bVisible != 0;
    return true;
  }
  bool SetCursorInfo(runtime::Handle out, const CursorInfo& info) override {
    CONSOLE_CURSOR_INFO cci{info.size, info.visible ? TRUE : FALSE};
    return ::SetConsoleCursorInfo(AsWin(out), &cci) != 0;
  }
  bool SetCursorPosition(runtime::Handle out, Coord pos) override {
    return ::SetConsoleCursorPosition(AsWin(out), AsWin(pos)) != 0;
  }
  bool GetMode(runtime::Handle in, std::uint32_t& mode) override {
    DWORD m = 0;
    if (!::GetConsoleMode(AsWin(in), &m)) return false;
    mode = m;
    return true;
  }
  bool SetMode(runtime::Handle in, std::uint32_t mode) override {
    return ::SetConsoleMode(AsWin(in), mode) != 0;
  }
  bool ReadInput(runtime::Handle in, InputEvent& event) override {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!::ReadConsoleInputA(AsWin(in), &record, 1, &got) || got != 1) return false;
    event = InputEvent{};
    event.type = record.EventType;
    if (record.EventType == KEY_EVENT) {
      event.key_down = record.Event.KeyEvent.bKeyDown != 0;
      event.character = record.Event.KeyEvent.uChar.AsciiChar;
    } else if (record.EventType == MOUSE_EVENT) {
      event.button_state = record.Event.MouseEvent.dwButtonState;
    }
    return true;
  }
  std::string ReadLine(runtime::Handle in, std::size_t max) override {
    return runtime::ReadHandle(in, max);
  }
  std::uint32_t FillCharacter(runtime::Handle out, char ch, std::uint32_t count,
                              Coord start) override {
    DWORD done = 0;
    if (!::FillConsoleOutputCharacterA(AsWin(out), ch, count, AsWin(start), &done)) return 0;
    return done;
  }
  std::uint32_t FillAttribute(runtime::Handle out, std::uint16_t attribute, std::uint32_t count,
                              Coord start) override {
    DWORD done = 0;
    if (!::FillConsoleOutputAttribute(AsWin(out), attribute, count, AsWin(start), &done)) return 0;
    return done;
  }
};
}  // namespace

ConsoleApi& PlatformApi() {
  static Win32Console api;
  return api;
}

}  // namespace console::detail
