// The POSIX profile functions: what they keep of a file they rewrite, and
// how they create one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/profile.h"
#include "settings/profile_text.h"

namespace fs = std::filesystem;

TEST(ProfileText, WritesKeepEveryOtherLineAsItWas) {
  struct Case {
    const char* name;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"a new file", "", "[S]\r\nk=v\r\n"},
      {"a key replaced in place", "; note\n[S]\nk = old \nz=1\n", "; note\n[S]\nk=v\nz=1\n"},
      {"a key added after the section's last line", "[S]\r\na=1\r\n\r\n[T]\r\nk=x\r\n",
       "[S]\r\na=1\r\nk=v\r\n\r\n[T]\r\nk=x\r\n"},
      {"a section added after a blank line", "[T]\nk=x", "[T]\nk=x\r\n\r\n[S]\r\nk=v\r\n"},
      {"only the first of two equal sections", "[S]\nk=1\n[S]\nk=2\n", "[S]\nk=v\n[S]\nk=2\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::SetProfileValue(c.before, "S", "k", "v"), c.after) << c.name;
  }
  EXPECT_EQ(settings::FindProfileValue("k=outside\n[S]\nk2=x\n", "S", "k"), std::nullopt);
  EXPECT_EQ(settings::FindProfileValue("[ S ]\n  k  =  a = b  \n", "s", "K"), "a = b");
  EXPECT_EQ(settings::FindProfileValue("[S]\nk=\" padded \"\n", "S", "k"), " padded ");
  EXPECT_EQ(settings::SetProfileValue("", "S", "k", "v\r\nPassword=x"), "[S]\r\nk=v\r\n");
}

TEST(ProfileFile, ANewFileIsForItsOwnerOnlyAndAnOldOneKeepsItsMode) {
  const fs::path dir = fs::temp_directory_path() / "postrine_profile_mode";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string fresh = (dir / "new.ini").string();
  ASSERT_TRUE(settings::detail::WriteProfileKey("Settings", "Password", "secret", fresh));
  struct stat st {};
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const std::string shared = (dir / "shared.ini").string();
  std::ofstream(shared) << "[Settings]\n";
  ::chmod(shared.c_str(), 0640);
  ASSERT_TRUE(settings::detail::WriteProfileKey("Settings", "Key", "v", shared));
  ASSERT_EQ(::stat(shared.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // No scratch file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  fs::remove_all(dir);
}
