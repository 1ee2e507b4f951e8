#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <cstring>

#include "runtime/activation.h"
#include "runtime/queue_files.h"

namespace runtime {

namespace {

std::string Errno() { return std::strerror(errno); }

std::string DirectoryOf(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
}

}  // namespace

NewQueueFile::~NewQueueFile() {
  if (h_ == kInvalidHandle) return;
  ::close(static_cast<int>(h_));
  ::unlink(name_.c_str());
}

bool NewQueueFile::Create(const std::string& name, std::string& reason) {
  const Activation activation("NEWQUEUEFILE:CREATE", __LINE__);
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    reason = Errno();
    return false;
  }
  // Held while it is written, so that a run that clears what a crashed
  // one left (a temporary file no lock holds) never takes it.
  ::flock(fd, LOCK_EX);
  h_ = fd;
  name_ = name;
  return true;
}

bool NewQueueFile::Write(std::string_view bytes, std::string& reason) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(static_cast<int>(h_), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = n < 0 ? Errno() : "nothing written";
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool NewQueueFile::Commit(const std::string& name, std::string& reason, bool /*replace*/) {
  const Activation activation("NEWQUEUEFILE:COMMIT", __LINE__);
  const int fd = static_cast<int>(h_);
  // rename() replaces what is there; a message's name is a new one anyway.
  if (::fsync(fd) != 0 || ::rename(name_.c_str(), name.c_str()) != 0) {
    reason = Errno();
    return false;  // the destructor removes it
  }
  // The rename itself reaches the disk with its directory.
  const int dir = ::open(DirectoryOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  ::close(fd);
  h_ = kInvalidHandle;
  return true;
}

QueueFileLock::~QueueFileLock() {
  if (h_ != kInvalidHandle) ::close(static_cast<int>(h_));
}

bool QueueFileLock::Take(const std::string& name, std::string& reason) {
  const Activation activation("QUEUEFILELOCK:TAKE", __LINE__);
  reason.clear();
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) reason = Errno();
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) reason = Errno();
    ::close(fd);
    return false;
  }
  // A file another run removed after this one opened it is no message.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_nlink == 0) {
    ::close(fd);
    return false;
  }
  h_ = fd;
  name_ = name;
  return true;
}

bool QueueFileLock::OlderThan(int seconds) const {
  struct stat st {};
  return ::fstat(static_cast<int>(h_), &st) == 0 && st.st_mtime + seconds < ::time(nullptr);
}

bool QueueFileLock::Remove(std::string& reason) {
  if (::unlink(name_.c_str()) == 0) return true;
  reason = Errno();
  return false;
}

bool QueueFileLock::MoveTo(const std::string& name, std::string& reason) {
  if (::rename(name_.c_str(), name.c_str()) == 0) {
    name_ = name;
    return true;
  }
  reason = Errno();
  return false;
}

bool ListDirectory(const std::string& directory, std::vector<std::string>& names, std::string& reason) {
  const Activation activation("LISTDIRECTORY", __LINE__);
  names.clear();
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    reason = Errno();
    return false;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return true;
}

void RemoveFile(const std::string& name) { ::unlink(name.c_str()); }

bool MakeDirectory(const std::string& directory, std::string& reason) {
  if (::mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) return true;
  reason = Errno();
  return false;
}

}  // namespace runtime
