// Text in the system's ANSI code page: its MIME charset name, and the text
// made UTF-8. On Windows the code page is the active one; elsewhere the
// user's locale's character set stands for it.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

/// The MIME charset name of the ANSI code page, in lower case, for text
/// that is neither ASCII nor UTF-8. Under a UTF-8 or ASCII locale, where no
/// code page of its own exists, "windows-1252": such text most likely came
/// from a Windows machine.
std::string AnsiCharset();

/// `text`, in the ANSI code page, as UTF-8. False when it holds a byte that
/// the code page does not define.
bool AnsiToUtf8(std::string_view text, std::string& utf8);

}  // namespace runtime
