// The POSIX profile functions: what they keep of a file they rewrite, and
// how they create one.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "settings/ini_file_spec.h"
#include "settings/profile_text.h"
#include "support/read_file.h"
#include "support/scratch_dir.h"

namespace fs = std::filesystem;

TEST(ProfileText, WritesKeepEveryOtherLineAsItWas) {
  struct Case {
    const char* name;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"a key replaced in place", "; note\n[S]\nk = old \nz=1\n", "; note\n[S]\nk=v\nz=1\n"},
      {"a key added after the section's last line", "[S]\r\na=1\r\n\r\n[T]\r\nk=x\r\n",
       "[S]\r\na=1\r\nk=v\r\n\r\n[T]\r\nk=x\r\n"},
      {"a section added after a blank line", "[T]\nk=x", "[T]\nk=x\r\n\r\n[S]\r\nk=v\r\n"},
      {"only the first of two equal sections", "[S]\nk=1\n[S]\nk=2\n", "[S]\nk=v\n[S]\nk=2\n"},
      {"a byte-order mark alone", "\xEF\xBB\xBF", "\xEF\xBB\xBF[S]\r\nk=v\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settings::SetProfileValue(c.before, "S", "k", "v"), c.after) << c.name;
  }
  EXPECT_EQ(settings::FindProfileValue("k=outside\n[S]\nk2=x\n", "S", "k"), std::nullopt);
  EXPECT_EQ(settings::FindProfileValue("[ S ]\n  k  =  a = b  \n", "s", "K"), "a = b");
  EXPECT_EQ(settings::FindProfileValue("[S]\nk=\" padded \"\n", "S", "k"), " padded ");
  EXPECT_EQ(settings::SetProfileValue("", "S", "k", "v\r\nPassword=x"), "[S]\r\nk=v\r\n");
}

namespace {

constexpr uid_t kNobody = 65534;

// Runs `work` in a child that cannot write `dir`: as nobody when the tests
// run as root, else with the directory made read-only. True when the child
// got as far as running it.
bool InReadOnlyDirectory(const fs::path& dir, const std::function<void()>& work) {
  if (::geteuid() != 0) ::chmod(dir.c_str(), 0555);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
    work();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::chmod(dir.c_str(), 0755);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct stat Stat(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(::lstat(name.c_str(), &st), 0) << name;
  return st;
}

}  // namespace

// A key added to an existing file leaves it where it was for every name
// that leads to it, with its owner and mode; in place where no new file
// can be made.
TEST(ProfileFile, AWriteKeepsTheFilesLinksOwnerAndMode) {
  test_support::ScratchDir dir("profile_keep");
  const std::string ini = dir / "postrine.ini";
  std::ofstream(ini) << "[Settings]\nServerName=mail\n";
  ::chmod(ini.c_str(), 0646);
  // As root the file belongs to someone else, as a user's file does when
  // root runs the program.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(ini.c_str(), kNobody, kNobody), 0);
  }
  const struct stat before = Stat(ini);

  const std::string hard = dir / "hard.ini";
  const std::string soft = dir / "soft.ini";
  ASSERT_EQ(::link(ini.c_str(), hard.c_str()), 0);
  ASSERT_EQ(::symlink("postrine.ini", soft.c_str()), 0);

  IniFileSpec(hard).WriteString("Settings", "UserName", "u");
  EXPECT_EQ(Stat(ini).st_ino, before.st_ino) << "replaced while a second link led to it";
  IniFileSpec(soft).WriteString("Settings", "Password", "p");
  ASSERT_EQ(::unlink(hard.c_str()), 0);
  IniFileSpec(ini).WriteString("Settings", "Sender", "s@example.com");
  EXPECT_TRUE(InReadOnlyDirectory(dir.path(), [&ini] {
    IniFileSpec(ini).WriteInt("Settings", "PortNumber", 25);
  }));

  EXPECT_EQ(test_support::ReadFile(ini),
            "[Settings]\nServerName=mail\nUserName=u\r\nPassword=p\r\nSender=s@example.com\r\n"
            "PortNumber=25\r\n");
  const struct stat after = Stat(ini);
  EXPECT_EQ(after.st_mode & 07777, 0646u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_TRUE(S_ISLNK(Stat(soft).st_mode));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
      << "a scratch file was left behind";
}
