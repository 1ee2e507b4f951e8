// The console on a terminal. Colours, title and cursor become escape
// sequences, written only when the handle is a terminal, so that a
// redirected stream receives exactly the text bytes. What a terminal cannot
// report (attribute, title, cursor shape and position) is remembered here,
// for the process, as the Windows console remembers it for its window.
// Key and mouse waits put the terminal in raw mode.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "console/console_platform.h"

namespace console::detail {

namespace {

// Windows colour bits are blue 1, green 2, red 4; ANSI numbers them red 1,
// green 2, blue 4.
int AnsiColour(unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }

std::string Sgr(std::uint16_t attribute) {
  int fg = AnsiColour(attribute & 7) + ((attribute & 8) ? 90 : 30);
  int bg = AnsiColour((attribute >> 4) & 7) + ((attribute & 0x80) ? 100 : 40);
  return "\x1b[0;" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
}

std::string MoveTo(Coord pos) {
  return "\x1b[" + std::to_string(pos.y + 1) + ";" + std::to_string(pos.x + 1) + "H";
}

bool Terminal(runtime::Handle h) { return runtime::IsTerminal(h); }

bool Send(runtime::Handle h, const std::string& bytes) {
  return runtime::WriteHandle(h, bytes) == bytes.size();
}

bool ReadByte(int fd, unsigned char& byte) {
  for (;;) {
    ssize_t n = ::read(fd, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// True when another byte arrives within a moment: the rest of an escape
// sequence comes at once, a lone escape key does not.
bool MoreFollows(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 30) == 1 && (p.revents & POLLIN);
}

class TerminalConsole final : public ConsoleApi {
 public:
  bool AllocConsole() override { return false; }

  // A terminal cannot be taken away from a process; its descriptors are
  // replaced by one that refuses every read and write, so later output
  // reports false as it does on Windows after FreeConsole.
  bool FreeConsole() override {
    int dead = ::open("/", O_RDONLY | O_CLOEXEC);
    if (dead < 0) return false;
    bool any = false;
    for (int fd = 0; fd <= 2; ++fd) {
      if (::isatty(fd) == 1 && ::dup2(dead, fd) == fd) any = true;
    }
    ::close(dead);
    return any;
  }

  std::uint32_t GetTitle(std::string& title, std::uint32_t limit) override {
    if (!Terminal(STDOUT_FILENO) || limit == 0) return 0;
    title = title_.substr(0, limit - 1);
    return static_cast<std::uint32_t>(title.size());
  }
  bool SetTitle(const std::string& title) override {
    if (!Terminal(STDOUT_FILENO)) return false;
    title_ = title;
    return Send(STDOUT_FILENO, "\x1b]0;" + title + "\x07");
  }

  bool GetBufferInfo(runtime::Handle out, BufferInfo& info) override {
    if (!Terminal(out)) return false;
    info.size = TerminalSize(out);
    info.cursor = cursor_;
    info.attribute = attribute_;
    return true;
  }
  bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute) override {
    if (!Terminal(out)) return false;
    attribute_ = attribute;
    return Send(out, Sgr(attribute));
  }

  // The window is the terminal itself: it can be asked to resize, but not
  // to show part of a larger buffer.
  Coord GetLargestWindowSize(runtime::Handle out) override {
    return Terminal(out) ? TerminalSize(out) : Coord{};
  }
  bool SetWindowInfo(runtime::Handle out, const Rect& window) override {
    return Terminal(out) && window.left <= window.right && window.top <= window.bottom;
  }
  bool SetBufferSize(runtime::Handle out, Coord size) override {
    if (!Terminal(out) || size.x <= 0 || size.y <= 0) return false;
    return Send(out, "\x1b[8;" + std::to_string(size.y) + ";" + std::to_string(size.x) + "t");
  }

  bool GetCursorInfo(runtime::Handle out, CursorInfo& info) override {
    if (!Terminal(out)) return false;
    info = cursor_info_;
    return true;
  }
  bool SetCursorInfo(runtime::Handle out, const CursorInfo& info) override {
    if (!Terminal(out) || info.size < 1 || info.size > 100) return false;
    cursor_info_ = info;
    return Send(out, info.visible ? "\x1b[?25h" : "\x1b[?25l");
  }
  bool SetCursorPosition(runtime::Handle out, Coord pos) override {
    if (!Terminal(out) || pos.x < 0 || pos.y < 0) return false;
    cursor_ = pos;
    return Send(out, MoveTo(pos));
  }

  bool GetMode(runtime::Handle in, std::uint32_t& mode) override {
    termios t;
    if (!Terminal(in) || ::tcgetattr(static_cast<int>(in), &t) != 0) return false;
    mode = mouse_ ? std::uint32_t{kMouseInput} : 0u;
    if (t.c_lflag & ISIG) mode |= kProcessedInput;
    if (t.c_lflag & ICANON) mode |= kLineInput;
    if (t.c_lflag & ECHO) mode |= kEchoInput;
    return true;
  }
  bool SetMode(runtime::Handle in, std::uint32_t mode) override {
    const int fd = static_cast<int>(in);
    termios t;
    if (!Terminal(in) || ::tcgetattr(fd, &t) != 0) return false;
    auto flag = [&](tcflag_t bit, bool on) { t.c_lflag = on ? (t.c_lflag | bit) : (t.c_lflag & ~bit); };
    flag(ISIG, mode & kProcessedInput);
    flag(ICANON, mode & kLineInput);
    flag(ECHO, mode & kEchoInput);
    if (!(mode & kLineInput)) {
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
    const bool mouse = (mode & kMouseInput) != 0;
    if (mouse != mouse_) {
      mouse_ = mouse;
      Send(in, mouse ? "\x1b[?1000h" : "\x1b[?1000l");
    }
    return true;
  }

  // A terminal sends a key's character once, when it is typed: that counts
  // as the key's release. Escape sequences of keys without a character
  // (arrows, function keys) read as such keys; X10 mouse reports as mouse
  // events. A plain stream (not a terminal) gives its bytes as keys.
  bool ReadInput(runtime::Handle in, InputEvent& event) override {
    const int fd = static_cast<int>(in);
    unsigned char byte = 0;
    if (in < 0 || !ReadByte(fd, byte)) return false;
    event = InputEvent{};
    event.type = InputEvent::kKey;
    if (byte != 0x1b || !Terminal(in) || !MoreFollows(fd)) {
      event.character = static_cast<char>(byte);
      return true;
    }
    unsigned char intro = 0;
    if (!ReadByte(fd, intro)) return false;
    if (intro == '[' || intro == 'O') {
      unsigned char b = 0;
      if (!ReadByte(fd, b)) return false;
      if (intro == '[' && b == 'M') return ReadMouse(fd, event);
      while (intro == '[' && (b < 0x40 || b > 0x7e)) {
        if (!ReadByte(fd, b)) return false;
      }
    }
    return true;  // a key without a character
  }

  // A terminal ends a typed line with LF; the console's line end is CR LF,
  // and it counts against `max` as on Windows: when the CR fills the read,
  // the LF is kept for the next one.
  std::string ReadLine(runtime::Handle in, std::size_t max) override {
    if (pending_lf_ && pending_lf_handle_ == in) {
      pending_lf_ = false;
      return max > 0 ? "\n" : "";
    }
    std::string bytes = runtime::ReadHandle(in, max);
    const std::size_t n = bytes.size();
    if (n > 0 && bytes[n - 1] == '\n' && (n < 2 || bytes[n - 2] != '\r')) {
      bytes.insert(n - 1, 1, '\r');
      if (bytes.size() > max) {
        bytes.pop_back();
        pending_lf_ = true;
        pending_lf_handle_ = in;
      }
    }
    return bytes;
  }

  std::uint32_t FillCharacter(runtime::Handle out, char ch, std::uint32_t count,
                              Coord start) override {
    const std::uint32_t n = Cells(out, count, start);
    if (n == 0) return 0;
    if (ch == ' ' && IsWholeScreen(out, n, start)) {
      Send(out, "\x1b[H\x1b[2J" + MoveTo(cursor_));
    } else {
      Send(out, MoveTo(start) + std::string(n, ch) + MoveTo(cursor_));
    }
    return n;
  }

  // A terminal cannot recolour cells in place. A fill of the whole screen
  // redraws it blank in that colour (what clearing needs); smaller fills
  // are refused.
  std::uint32_t FillAttribute(runtime::Handle out, std::uint16_t attribute, std::uint32_t count,
                              Coord start) override {
    const std::uint32_t n = Cells(out, count, start);
    if (n == 0 || !IsWholeScreen(out, n, start)) return 0;
    Send(out, Sgr(attribute) + "\x1b[2J" + MoveTo(cursor_) + Sgr(attribute_));
    return n;
  }

 private:
  static Coord TerminalSize(runtime::Handle out) {
    winsize ws{};
    if (::ioctl(static_cast<int>(out), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) {
      return {80, 25};
    }
    return {static_cast<std::int16_t>(ws.ws_col), static_cast<std::int16_t>(ws.ws_row)};
  }

  // How many of `count` cells from `start` lie on the screen.
  static std::uint32_t Cells(runtime::Handle out, std::uint32_t count, Coord start) {
    if (!Terminal(out) || start.x < 0 || start.y < 0) return 0;
    const Coord size = TerminalSize(out);
    const std::int64_t total = std::int64_t{size.x} * size.y;
    const std::int64_t first = std::int64_t{start.y} * size.x + start.x;
    if (first >= total) return 0;
    return static_cast<std::uint32_t>(std::min<std::int64_t>(count, total - first));
  }

  static bool IsWholeScreen(runtime::Handle out, std::uint32_t n, Coord start) {
    const Coord size = TerminalSize(out);
    return start.x == 0 && start.y == 0 && std::int64_t{n} == std::int64_t{size.x} * size.y;
  }

  static bool ReadMouse(int fd, InputEvent& event) {
    unsigned char report[3];
    for (unsigned char& b : report) {
      if (!ReadByte(fd, b)) return false;
    }
    event.type = InputEvent::kMouse;
    // Buttons 0, 1, 2 are left, middle, right; 3 is a release.
    static const std::uint32_t kButtons[] = {0x1, 0x4, 0x2, 0x0};
    event.button_state = kButtons[(report[0] - 32) & 3];
    return true;
  }

  std::uint16_t attribute_ = 7;
  std::string title_;
  CursorInfo cursor_info_{25, true};
  Coord cursor_;
  bool mouse_ = false;
  bool pending_lf_ = false;
  runtime::Handle pending_lf_handle_{};
};

}  // namespace

ConsoleApi& PlatformApi() {
  static TerminalConsole api;
  return api;
}

}  // namespace console::detail
