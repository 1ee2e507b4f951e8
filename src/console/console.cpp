#include "console/console.h"

#include "console/console_platform.h"
#include "runtime/activation.h"

namespace cp = console_platform;
using runtime::Handle;

ConsoleCoord::ConsoleCoord(std::int64_t x, std::int64_t y)
    : X(static_cast<std::int16_t>(static_cast<std::uint16_t>(x & 0xFFFF))),
      Y(static_cast<std::int16_t>(static_cast<std::uint16_t>(y & 0xFFFF))) {
  const runtime::Activation activation("CONSOLECOORD:INIT", __LINE__);
}

Console::Console(const runtime::Value& own_console) {
  const runtime::Activation activation("CONSOLE:INIT", __LINE__);
  const bool wish = own_console.IsLogical() && own_console.AsLogical();
  output_ = runtime::GetStdHandle(runtime::StdHandle::Output);
  error_ = runtime::GetStdHandle(runtime::StdHandle::Error);
  if (output_ == runtime::kNullHandle && wish) {
    cp::AllocConsole();
    output_ = runtime::GetStdHandle(runtime::StdHandle::Output);
  }
  input_ = runtime::GetStdHandle(runtime::StdHandle::Input);
}

namespace {
bool WriteAll(Handle h, std::string_view text) {
  if (h == runtime::kInvalidHandle) return false;
  if (h == runtime::kNullHandle) return false;
  return runtime::WriteHandle(h, text) == text.size();
}
}  // namespace

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

std::uint16_t Console::TextAttribute() {
  const runtime::Activation activation("CONSOLE:TEXTATTRIBUTE", __LINE__);
  cp::BufferInfo info;
  if (!cp::GetBufferInfo(output_, info)) return 0;
  return info.attribute;
}

std::int64_t Console::TextAttribute(std::int64_t attribute) {
  const runtime::Activation activation("CONSOLE:TEXTATTRIBUTE", __LINE__);
  cp::SetTextAttribute(output_, static_cast<std::uint16_t>(attribute & 0xFFFF));
  return attribute;
}
