// How Windows reads a settings file's text: saved as UTF-8 (as Notepad
// saves it, with or without a byte-order mark), in the ANSI code page (as
// older editors did) or as UTF-16, a value comes out as the same UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "settings/ini_file_spec.h"
#include "support/scratch_dir.h"

namespace {

TEST(IniFileText, EverySavedFormGivesTheSameText) {
  const std::string utf8 = "Passw\xC3\xB6rt \xE6\x97\xA5\xE6\x9C\xAC";
  std::string u16 = "\xFF\xFE";  // little-endian, as Notepad saves "Unicode"
  for (char16_t c : std::u16string(u"[S]\r\nk=\u00FC\u65E5\r\n")) {
    u16 += static_cast<char>(c & 0xFF);
    u16 += static_cast<char>(c >> 8);
  }
  // Plain UTF-8, with a byte-order mark and in the ANSI code page show in
  // the end-to-end tests, which log on with such a password.
  struct Case {
    const char* name;
    std::string file;
    std::string value;
  } cases[] = {
      {"quoted UTF-8", "[S]\r\nk=\"" + utf8 + "\"\r\n", utf8},
      {"UTF-16", u16, "\xC3\xBC\xE6\x97\xA5"},
      {"ASCII", "[S]\r\nk=plain\r\n", "plain"},
  };
  test_support::ScratchDir scratch{"ini-text"};
  for (const Case& c : cases) {
    const std::string name = (scratch.path() / "postrine.ini").string();
    std::ofstream(name, std::ios::binary | std::ios::trunc) << c.file;
    IniFileSpec ini(name);
    EXPECT_EQ(ini.GetString("S", "k", "?"), c.value) << c.name;
    EXPECT_TRUE(ini.UnreadableKeys().empty()) << c.name;
  }
}

}  // namespace
