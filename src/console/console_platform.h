// The console functions one platform offers, in the shape of the Windows
// console API. console.cpp holds the logic and calls them through
// console::detail::Api(); console_win32.cpp calls the real functions and
// console_posix.cpp stands in for them on a terminal. Unit tests install a
// recorder in place of the platform to check which calls the logic makes.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/handle.h"

namespace console::detail {

struct Coord {
  std::int16_t x = 0;
  std::int16_t y = 0;
};

struct BufferInfo {
  Coord size;
  Coord cursor;
  std::uint16_t attribute = 0;
};

struct CursorInfo {
  std::uint32_t size = 0;  // percent of the cell, 1 to 100
  bool visible = false;
};

struct Rect {
  std::int16_t left = 0;
  std::int16_t top = 0;
  std::int16_t right = 0;
  std::int16_t bottom = 0;
};

/// One console input event, reduced to what Console:Wait looks at.
struct InputEvent {
  enum Type : std::uint16_t {
    kKey = 1,
    kMouse = 2,
    kWindowBufferSize = 4,
    kMenu = 8,
    kFocus = 16,
  };
  std::uint16_t type = 0;
  bool key_down = false;
  char character = 0;
  std::uint32_t button_state = 0;
};

/// Input mode bits, as on the Windows console.
enum : std::uint32_t {
  kProcessedInput = 0x1,
  kLineInput = 0x2,
  kEchoInput = 0x4,
  kMouseInput = 0x10,
};

/// The console functions. Screen functions take the output handle, mode and
/// input functions the input handle. Every function reports failure as the
/// Windows function does: false, or a count or size of 0.
class ConsoleApi {
 public:
  virtual ~ConsoleApi() = default;
  virtual bool AllocConsole() = 0;
  virtual bool FreeConsole() = 0;
  /// The title, at most `limit` - 1 bytes; 0 on failure, else its length.
  virtual std::uint32_t GetTitle(std::string& title, std::uint32_t limit) = 0;
  virtual bool SetTitle(const std::string& title) = 0;
  virtual bool GetBufferInfo(runtime::Handle out, BufferInfo& info) = 0;
  virtual bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute) = 0;
  virtual Coord GetLargestWindowSize(runtime::Handle out) = 0;
  /// Places the window over `window`, in absolute buffer coordinates.
  virtual bool SetWindowInfo(runtime::Handle out, const Rect& window) = 0;
  virtual bool SetBufferSize(runtime::Handle out, Coord size) = 0;
  virtual bool GetCursorInfo(runtime::Handle out, CursorInfo& info) = 0;
  virtual bool SetCursorInfo(runtime::Handle out, const CursorInfo& info) = 0;
  virtual bool SetCursorPosition(runtime::Handle out, Coord pos) = 0;
  virtual bool GetMode(runtime::Handle in, std::uint32_t& mode) = 0;
  virtual bool SetMode(runtime::Handle in, std::uint32_t mode) = 0;
  /// Waits for and removes one input event.
  virtual bool ReadInput(runtime::Handle in, InputEvent& event) = 0;
  /// One plain file read of at most `max` bytes, as a typed line arrives:
  /// its line end is CR LF.
  virtual std::string ReadLine(runtime::Handle in, std::size_t max) = 0;
  /// Fill `count` cells from `start`, row after row, up to the end of the
  /// buffer; return the number of cells filled.
  virtual std::uint32_t FillCharacter(runtime::Handle out, char ch, std::uint32_t count,
                                      Coord start) = 0;
  virtual std::uint32_t FillAttribute(runtime::Handle out, std::uint16_t attribute,
                                      std::uint32_t count, Coord start) = 0;
};

/// The platform's console functions.
ConsoleApi& PlatformApi();

/// The functions the Console class calls: the platform's unless a test has
/// installed others.
ConsoleApi& Api();
/// Installs `api` (nullptr: the platform's again); returns the previous one.
ConsoleApi* SetApi(ConsoleApi* api);

}  // namespace console::detail
