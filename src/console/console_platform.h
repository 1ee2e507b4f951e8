// The console functions one platform offers, in the shape of the Windows
// console API. console.cpp holds the logic; console_win32.cpp calls the real
// functions and console_posix.cpp stands in for them on a terminal.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/handle.h"

namespace console_platform {

struct BufferInfo {
  std::int16_t width = 0;
  std::int16_t height = 0;
  std::int16_t cursor_x = 0;
  std::int16_t cursor_y = 0;
  std::uint16_t attribute = 0;
};

bool AllocConsole();
bool FreeConsole();
bool GetBufferInfo(runtime::Handle out, BufferInfo& info);
bool SetTextAttribute(runtime::Handle out, std::uint16_t attribute);

}  // namespace console_platform
