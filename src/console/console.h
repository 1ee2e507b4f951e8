// Console: the program's console object. Every line the program prints goes
// through it: text to standard output and standard error as plain bytes,
// and the console's colour, title, size, cursor, clearing and input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/handle.h"
#include "runtime/value.h"

/// A column and row (or width and height) pair; each holds the low 16 bits
/// of what it was given.
class ConsoleCoord {
 public:
  ConsoleCoord() = default;
  ConsoleCoord(std::int64_t x, std::int64_t y);  // ConsoleCoord:Init
  std::int16_t X = 0;
  std::int16_t Y = 0;
};

namespace console {

/// Console text attribute bits, as on the Windows console.
enum : std::uint16_t {
  kForegroundBlue = 0x1,
  kForegroundGreen = 0x2,
  kForegroundRed = 0x4,
  kForegroundIntensity = 0x8,
  kBackgroundBlue = 0x10,
  kBackgroundGreen = 0x20,
  kBackgroundRed = 0x40,
  kBackgroundIntensity = 0x80,
};

}  // namespace console

class Console {
 public:
  /// Console:Init. `own_console`: allocate a console when the process has
  /// none; any value that is not logical counts as false.
  explicit Console(const runtime::Value& own_console = runtime::Value(false));

  /// True when every byte of `text` reached standard output.
  bool Write(std::string_view text);
  /// `text` and CR LF in one write to standard output.
  bool WriteLine(std::string_view text);
  /// True when every byte of `text` reached standard error.
  bool WriteError(std::string_view text);

  std::string Title();
  std::string Title(const std::string& title);

  std::uint16_t TextAttribute();
  /// Takes the low 16 bits of `attribute`; returns the value given.
  std::int64_t TextAttribute(std::int64_t attribute);

  ConsoleCoord Size();
  const ConsoleCoord& Size(const ConsoleCoord& size);

  bool CursorVisible();
  bool CursorVisible(bool visible);
  std::uint32_t CursorSize();
  std::int64_t CursorSize(std::int64_t size);
  ConsoleCoord CursorPos();
  const ConsoleCoord& CursorPos(const ConsoleCoord& pos);

  /// Waits for a released key with a character or a mouse button; returns
  /// that character (128 for the mouse) and echoes it; empty on failure.
  std::string Wait();
  /// One typed line without its line end (at most 254 bytes).
  std::string Read();
  Console& Clear();
  Console& Destroy();

  runtime::Handle OutputHandle() const { return output_; }
  runtime::Handle InputHandle() const { return input_; }
  runtime::Handle ErrorHandle() const { return error_; }

 private:
  runtime::Handle output_ = runtime::kNullHandle;
  runtime::Handle input_ = runtime::kNullHandle;
  runtime::Handle error_ = runtime::kNullHandle;
};
