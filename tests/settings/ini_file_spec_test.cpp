// IniFileSpec against real files in a scratch directory, on the platform's
// own profile functions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/places.h"
#include "settings/ini_file_spec.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

class IniFile : public ::testing::Test {
 protected:
  void Put(const std::string& text) { std::ofstream(name_, std::ios::binary) << text; }
  std::string Content() const { return test_support::ReadFile(name_); }

  test_support::ScratchDir scratch_{"ini"};
  std::string name_ = scratch_ / "postrine.ini";
};

}  // namespace

// The checking readers write a default back only where the value is
// missing or blank; a present value is kept, even one that is no number.
TEST_F(IniFile, ReadersTakeDefaultsTheLeadingNumberAndTrimmedValues) {
  Put("[Settings]\r\nServerName=   \r\nPort=0\r\nWord=abc\r\nHost = mail.example.com  \r\nCount=42 apples\r\n"
      "Negative=-7\r\n");
  IniFileSpec ini(name_);
  EXPECT_EQ(ini.GetString("Settings", "Missing", "x"), "x");
  EXPECT_EQ(ini.GetString("Other", "Count", "x"), "x");
  EXPECT_EQ(ini.GetInt("Settings", "Count"), 42);
  EXPECT_EQ(ini.GetInt("Settings", "Negative"), -7);
  EXPECT_EQ(ini.GetStringCheck("Settings", "Host", "x"), "mail.example.com");
  EXPECT_EQ(ini.GetIntCheck("Settings", "Port", 25), 0);
  const std::string before = Content();
  EXPECT_EQ(ini.GetIntCheck("Settings", "Word", 25), 0);
  EXPECT_EQ(Content(), before) << "a value that is no number stays";
  EXPECT_EQ(ini.GetStringCheck("Settings", "ServerName", "??"), "??");
  EXPECT_EQ(ini.GetString("Settings", "ServerName"), "??");
}

TEST_F(IniFile, SectionsAndKeysMatchInAnyLetterCaseAndALongValueIsCut) {
  Put("[SETTINGS]\r\nservername=mail\r\n");
  IniFileSpec ini(name_);
  EXPECT_EQ(ini.GetString("Settings", "ServerName"), "mail");
  ini.WriteString("settings", "SERVERNAME", "relay");
  EXPECT_EQ(ini.GetString("Settings", "ServerName"), "relay");
  ini.WriteInt("Settings", "PortNumber", 587);
  EXPECT_EQ(ini.GetInt("SETTINGS", "portnumber"), 587);
  // One section still: the key was replaced, the new one added to it.
  const std::string text = Content();
  EXPECT_EQ(text.find("["), text.rfind("["));
  EXPECT_EQ(text.find("mail"), std::string::npos);
  ini.WriteString("Settings", "Long", std::string(9000, 'v'));
  EXPECT_EQ(ini.GetString("Settings", "Long"), std::string(8191, 'v'));
}

TEST_F(IniFile, ABareNameIsCompletedWithTheCurrentDirectory) {
  const fs::path saved = fs::current_path();
  fs::current_path(scratch_.path());
  const std::string sep = runtime::PathSeparator();
  const std::string here = runtime::DiskName() + runtime::CurDir() + sep;
  IniFileSpec bare("x.ini");
  bare.WriteString("Settings", "Key", "v");
  fs::current_path(saved);
  EXPECT_EQ(bare.FullPath(), here + "x.ini");
  EXPECT_EQ(IniFileSpec(bare.FullPath()).GetString("Settings", "Key"), "v");
  EXPECT_TRUE(fs::exists(scratch_.path() / "x.ini"));
  // A name with a directory part stays as it is.
  EXPECT_EQ(IniFileSpec("sub" + sep + "x.ini").FullPath(), "sub" + sep + "x.ini");
}

// Text that a value or the file holds besides the key lines: a NUL ends the
// value as it ends the read buffer; a UTF-8 byte-order mark (Notepad writes
// one) is no part of the first section's header.
TEST_F(IniFile, ANulEndsAValueAndAByteOrderMarkHidesNoSection) {
  const char raw[] = "\xEF\xBB\xBF[Settings]\r\nServerName=mail\0junk\r\nPortNumber=587\r\n";
  Put(std::string(raw, sizeof raw - 1));
  IniFileSpec ini(name_);
  EXPECT_EQ(ini.GetString("Settings", "ServerName"), "mail");
  EXPECT_EQ(ini.GetStringCheck("Settings", "ServerName", "??"), "mail");
  EXPECT_EQ(ini.GetIntCheck("Settings", "PortNumber", 25), 587);
  EXPECT_EQ(ini.GetStringCheck("Settings", "Sender", "postrine@localhost"), "postrine@localhost");
  const std::string text = Content();
  EXPECT_EQ(text.find("[Settings]"), text.rfind("[Settings]")) << "a second section was added";
  EXPECT_NE(text.find("Sender=postrine@localhost"), std::string::npos);
}
