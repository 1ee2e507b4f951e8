// The console on a terminal: colours become SGR sequences, written only
// when standard output is a terminal, so a redirected stream receives
// exactly the text bytes. What a terminal cannot report is remembered here.
#include <string>

#include "console/console_platform.h"

namespace console_platform {

namespace {
std::uint16_t g_attribute = 7;

// Windows colour bits are blue 1, green 2, red 4; ANSI numbers them red 1,
// green 2, blue 4.
int AnsiColour(unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); }
}  // namespace

bool AllocConsole() { return false; }
bool FreeConsole() { return true; }

bool GetBufferInfo(runtime::Handle out, BufferInfo& info) {
  if (out < 0) return false;
  info.attribute = g_attribute;
  return true;
}

bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute) {
  if (out < 0) return false;
  g_attribute = attribute;
  if (!runtime::IsTerminal(out)) return true;
  int fg = AnsiColour(attribute & 7) + ((attribute & 8) ? 90 : 30);
  int bg = AnsiColour((attribute >> 4) & 7) + ((attribute & 0x80) ? 100 : 40);
  std::string sgr = "\x1b[0;" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
  return runtime::WriteHandle(out, sgr) == sgr.size();
}

}  // namespace console_platform
