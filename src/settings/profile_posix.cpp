// The private profile functions on POSIX, on the text functions of
// profile_text.cpp. A write goes to a new file beside the old one, which
// then takes its place, so that an interrupted write never leaves half a
// settings file. The new file gets the old one's owner and mode; where that
// cannot be had (a link, a second hard link, an owner that cannot be given
// away) or no new file can be made (a directory the user cannot write), the
// old file is written in place. A file created here is readable by its
// owner only: it holds a password.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "settings/profile.h"
#include "settings/profile_text.h"

namespace settings {

namespace {

bool ReadFile(const std::string& file, std::string& text) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[65536];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return n == 0;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Overwrites the file itself: every name and link keeps leading to it.
// The old text is cut off only after the new one is written.
bool WriteInPlace(const std::string& file, const std::string& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
  ok = ::close(fd) == 0 && ok;
  return ok;
}

// A replacement for the file `st` describes must belong to the same owner
// and group; only root may give a file away.
bool TakeOwner(int fd, const struct stat& st) {
  struct stat made {};
  if (::fstat(fd, &made) != 0) return false;
  if (made.st_uid == st.st_uid && made.st_gid == st.st_gid) return true;
  return ::fchown(fd, st.st_uid, st.st_gid) == 0;
}

}  // namespace

namespace detail {

std::string ReadProfileKey(const std::string& section, const std::string& key,
                             const std::string& fallback, std::size_t buffer_size,
                             const std::string& file, bool& is_text) {
  is_text = true;
  std::string text;
  std::string value = fallback;
  if (ReadFile(file, text)) {
    if (auto found = FindProfileValue(text, section, key)) value = std::move(*found);
  }
  // The caller gets a buffer of text: a NUL in the value ends it there.
  value.resize(std::min(value.size(), value.find('\0')));
  if (buffer_size == 0) return {};
  if (value.size() > buffer_size - 1) value.resize(buffer_size - 1);
  return value;
}

bool WriteProfileKey(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  std::string text;
  struct stat st {};
  const bool exists = ::lstat(file.c_str(), &st) == 0;
  if (exists && !ReadFile(file, text)) return false;
  const std::string updated = SetProfileValue(text, section, key, value);
  // Replacing a link or one of several hard links would cut it off.
  if (exists && (S_ISLNK(st.st_mode) || st.st_nlink > 1)) return WriteInPlace(file, updated);

  const std::string temp = file + ".new" + std::to_string(::getpid());
  const mode_t mode = exists ? (st.st_mode & 07777) : 0600;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return exists && WriteInPlace(file, updated);
  if (exists && !TakeOwner(fd, st)) {
    ::close(fd);
    ::unlink(temp.c_str());
    return WriteInPlace(file, updated);
  }
  // After the owner: a change of owner clears the set-id bits.
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, updated) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), file.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace detail

}  // namespace settings
