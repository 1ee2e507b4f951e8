// The program's text for the wide functions of Windows, and their text
// back. The program's strings are UTF-8 on Windows too, so that no
// character outside the ANSI code page is lost on its way in or out; a
// text that is not UTF-8 (a legacy settings value saved in the ANSI code
// page, a server's reply) is read in the ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

/// `text` for a wide function: UTF-8 when it is well formed, otherwise
/// taken in the ANSI code page.
std::wstring WideText(std::string_view text);

/// The text of a wide function as the program's text. False when it holds
/// an unpaired surrogate, which then stands as U+FFFD.
bool TextFromWide(std::wstring_view wide, std::string& text);
std::string TextFromWide(std::wstring_view wide);

/// `text` as UTF-8: as it is when it is UTF-8, otherwise read in the ANSI
/// code page. False when it is neither (a byte that the code page does not
/// define); `utf8` then holds what could be read.
bool TextAsUtf8(std::string_view text, std::string& utf8);

}  // namespace runtime
