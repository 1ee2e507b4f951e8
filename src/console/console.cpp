#include "console/console.h"

#include <algorithm>

#include "console/console_platform.h"
#include "runtime/activation.h"

namespace cp = console::detail;
using runtime::Handle;

namespace console::detail {
namespace {
ConsoleApi* g_installed = nullptr;
}  // namespace

ConsoleApi& Api() { return g_installed ? *g_installed : PlatformApi(); }

ConsoleApi* SetApi(ConsoleApi* api) {
  ConsoleApi* previous = g_installed;
  g_installed = api;
  return previous;
}
}  // namespace console::detail

namespace {
std::int16_t Low16(std::int64_t v) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(v & 0xFFFF));
}

cp::Coord ToPlatform(const ConsoleCoord& c) { return {c.X, c.Y}; }

bool WriteAll(Handle h, std::string_view text) {
  if (h == runtime::kInvalidHandle || h == runtime::kNullHandle) return false;
  return runtime::WriteHandle(h, text) == text.size();
}
}  // namespace

ConsoleCoord::ConsoleCoord(std::int64_t x, std::int64_t y) : X(Low16(x)), Y(Low16(y)) {
  const runtime::Activation activation("CONSOLECOORD:INIT", __LINE__);
}

Console::Console(const runtime::Value& own_console) {
  const runtime::Activation activation("CONSOLE:INIT", __LINE__);
  const bool wish = own_console.IsLogical() && own_console.AsLogical();
  output_ = runtime::GetStdHandle(runtime::StdHandle::Output);
  error_ = runtime::GetStdHandle(runtime::StdHandle::Error);
  if (output_ == runtime::kNullHandle && wish) {
    cp::Api().AllocConsole();
    output_ = runtime::GetStdHandle(runtime::StdHandle::Output);
  }
  input_ = runtime::GetStdHandle(runtime::StdHandle::Input);
}

bool Console::Write(std::string_view text) {
  const runtime::Activation activation("CONSOLE:WRITE", __LINE__);
  return WriteAll(output_, text);
}

bool Console::WriteLine(std::string_view text) {
  const runtime::Activation activation("CONSOLE:WRITELINE", __LINE__);
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text);
  line.append("\r\n");
  return Write(line);
}

bool Console::WriteError(std::string_view text) {
  const runtime::Activation activation("CONSOLE:WRITEERROR", __LINE__);
  return WriteAll(error_, text);
}

std::string Console::Title() {
  const runtime::Activation activation("CONSOLE:TITLE", __LINE__);
  std::string title;
  if (cp::Api().GetTitle(title, 255) == 0) return {};
  return title;
}

std::string Console::Title(const std::string& title) {
  const runtime::Activation activation("CONSOLE:TITLE", __LINE__);
  cp::Api().SetTitle(title);
  return title;
}

std::uint16_t Console::TextAttribute() {
  const runtime::Activation activation("CONSOLE:TEXTATTRIBUTE", __LINE__);
  cp::BufferInfo info;
  if (!cp::Api().GetBufferInfo(output_, info)) return 0;
  return info.attribute;
}

std::int64_t Console::TextAttribute(std::int64_t attribute) {
  const runtime::Activation activation("CONSOLE:TEXTATTRIBUTE", __LINE__);
  cp::Api().SetTextAttribute(output_, static_cast<std::uint16_t>(attribute & 0xFFFF));
  return attribute;
}

ConsoleCoord Console::Size() {
  const runtime::Activation activation("CONSOLE:SIZE", __LINE__);
  cp::BufferInfo info;
  if (!cp::Api().GetBufferInfo(output_, info)) return {};
  return ConsoleCoord(info.size.x, info.size.y);
}

const ConsoleCoord& Console::Size(const ConsoleCoord& size) {
  const runtime::Activation activation("CONSOLE:SIZE", __LINE__);
  cp::ConsoleApi& api = cp::Api();
  cp::BufferInfo info;
  api.GetBufferInfo(output_, info);
  const cp::Coord largest = api.GetLargestWindowSize(output_);
  // The window never grows past what the screen allows and sits at the
  // buffer's top left corner.
  cp::Rect window;
  window.right = static_cast<std::int16_t>(std::min(size.X, largest.x) - 1);
  window.bottom = static_cast<std::int16_t>(std::min(size.Y, largest.y) - 1);
  // The buffer may never be smaller than the window: shrink the window
  // before the buffer, grow the buffer before the window.
  const std::int64_t current = std::int64_t{info.size.x} * info.size.y;
  const std::int64_t wanted = std::int64_t{size.X} * size.Y;
  if (current > wanted) {
    api.SetWindowInfo(output_, window);
    api.SetBufferSize(output_, ToPlatform(size));
  } else if (current < wanted) {
    api.SetBufferSize(output_, ToPlatform(size));
    api.SetWindowInfo(output_, window);
  }
  return size;
}

bool Console::CursorVisible() {
  const runtime::Activation activation("CONSOLE:CURSORVISIBLE", __LINE__);
  cp::CursorInfo info;
  if (!cp::Api().GetCursorInfo(output_, info)) return false;
  return info.visible;
}

bool Console::CursorVisible(bool visible) {
  const runtime::Activation activation("CONSOLE:CURSORVISIBLE", __LINE__);
  cp::CursorInfo info;
  cp::Api().GetCursorInfo(output_, info);
  info.visible = visible;
  cp::Api().SetCursorInfo(output_, info);
  return visible;
}

std::uint32_t Console::CursorSize() {
  const runtime::Activation activation("CONSOLE:CURSORSIZE", __LINE__);
  cp::CursorInfo info;
  if (!cp::Api().GetCursorInfo(output_, info)) return 0;
  return info.size;
}

std::int64_t Console::CursorSize(std::int64_t size) {
  const runtime::Activation activation("CONSOLE:CURSORSIZE", __LINE__);
  cp::CursorInfo info;
  cp::Api().GetCursorInfo(output_, info);
  info.size = static_cast<std::uint32_t>(size);
  cp::Api().SetCursorInfo(output_, info);
  return size;
}

ConsoleCoord Console::CursorPos() {
  const runtime::Activation activation("CONSOLE:CURSORPOS", __LINE__);
  cp::BufferInfo info;
  if (!cp::Api().GetBufferInfo(output_, info)) return {};
  return ConsoleCoord(info.cursor.x, info.cursor.y);
}

const ConsoleCoord& Console::CursorPos(const ConsoleCoord& pos) {
  const runtime::Activation activation("CONSOLE:CURSORPOS", __LINE__);
  cp::Api().SetCursorPosition(output_, ToPlatform(pos));
  return pos;
}

std::string Console::Wait() {
  const runtime::Activation activation("CONSOLE:WAIT", __LINE__);
  cp::ConsoleApi& api = cp::Api();
  std::uint32_t saved = 0;
  api.GetMode(input_, saved);
  // Mouse input alone: no line editing, no echo, and control-c arrives as
  // the character 3 instead of ending the process.
  api.SetMode(input_, cp::kMouseInput);
  std::string result;
  for (;;) {
    cp::InputEvent event;
    if (!api.ReadInput(input_, event)) break;
    if (event.type == cp::InputEvent::kKey) {
      if (event.character != 0 && !event.key_down) {
        result.assign(1, event.character);
        break;
      }
    } else if (event.type == cp::InputEvent::kMouse) {
      if (event.button_state != 0) {
        result.assign(1, static_cast<char>(128));
        break;
      }
    }
  }
  api.SetMode(input_, saved);
  Write(result);
  return result;
}

std::string Console::Read() {
  const runtime::Activation activation("CONSOLE:READ", __LINE__);
  if (input_ == runtime::kInvalidHandle) return {};
  std::string bytes = cp::Api().ReadLine(input_, 256);
  if (bytes.size() <= 2) return {};
  bytes.resize(bytes.size() - 2);
  return bytes;
}

Console& Console::Clear() {
  const runtime::Activation activation("CONSOLE:CLEAR", __LINE__);
  cp::ConsoleApi& api = cp::Api();
  cp::BufferInfo info;
  api.GetBufferInfo(output_, info);
  const auto cells = static_cast<std::uint32_t>(std::int64_t{info.size.x} * info.size.y);
  api.FillCharacter(output_, ' ', cells, {0, 0});
  api.GetBufferInfo(output_, info);
  api.FillAttribute(output_, info.attribute, cells, {0, 0});
  api.SetCursorPosition(output_, {0, 0});
  return *this;
}

Console& Console::Destroy() {
  const runtime::Activation activation("CONSOLE:DESTROY", __LINE__);
  cp::Api().FreeConsole();
  return *this;
}
