// Files on POSIX. Windows sharing modes become advisory flock locks taken
// on every open: an exclusive lock for the modes that hold the file alone
// (no sharing flag, exclusive, deny read), a shared lock for those that let
// others read. A lock that cannot be had is reported as the Windows sharing
// violation, so the callers see one behaviour on both systems.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/error_structure.h"
#include "runtime/files.h"

namespace runtime {

namespace {
bool DirectoryExists(const std::string& dir) {
  struct stat info {};
  return ::stat(dir.empty() ? "." : dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint32_t OsCode(int err, const std::string& name) {
  switch (err) {
    case ENOENT: {
      std::size_t cut = name.find_last_of('/');
      std::string dir = cut == std::string::npos ? std::string(".") : name.substr(0, cut + 1);
      return DirectoryExists(dir) ? kOsFileNotFound : kOsPathNotFound;
    }
    case ENOTDIR:
      return kOsPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kOsAccessDenied;
    case EWOULDBLOCK:
      return kOsSharingViolation;
    case EMFILE:
    case ENFILE:
      return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case EBADF:
      return 6;  // ERROR_INVALID_HANDLE
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

int Fd(Handle h) { return static_cast<int>(h); }
}  // namespace

namespace detail {
Handle PlatformOpen(const std::string& name, unsigned mode, bool create, unsigned attributes, std::uint32_t& code) {
  const unsigned access = mode & 0x0f;
  const unsigned share = mode & 0xf0;
  int flags = O_CLOEXEC | (access == FO_WRITE ? O_WRONLY : access == FO_READWRITE ? O_RDWR : O_RDONLY);
  if (create) flags = O_CLOEXEC | O_RDWR | O_CREAT;
  const mode_t perms = (attributes & FC_READONLY) != 0 ? 0444 : 0666;
  int fd;
  do {
    fd = ::open(name.c_str(), flags, perms);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    code = OsCode(errno, name);
    return kInvalidHandle;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    code = kOsAccessDenied;
    return kInvalidHandle;
  }
  const bool shared = !create && (share == FO_DENYWRITE || share == FO_DENYNONE);
  if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    code = errno == EWOULDBLOCK ? kOsSharingViolation : OsCode(errno, name);
    ::close(fd);
    return kInvalidHandle;
  }
  // Truncate only once the file is ours: a file held elsewhere stays whole.
  if (create && ::ftruncate(fd, 0) != 0) {
    code = OsCode(errno, name);
    ::close(fd);
    return kInvalidHandle;
  }
  code = 0;
  return fd;
}
}  // namespace detail

bool File(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FCreateNew(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_CLOEXEC | O_WRONLY | O_CREAT | O_EXCL, 0666);
  } while (fd < 0 && errno == EINTR);
  detail::SetFError(fd < 0 ? OsCode(errno, name) : 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

std::int64_t FSeek(Handle h, std::int64_t offset, int origin) {
  const int whence = origin == FS_END ? SEEK_END : origin == FS_RELATIVE ? SEEK_CUR : SEEK_SET;
  off_t pos = h < 0 ? -1 : ::lseek(Fd(h), static_cast<off_t>(offset), whence);
  detail::SetFError(pos < 0 ? OsCode(h < 0 ? EBADF : errno, "") : 0);
  return pos < 0 ? -1 : static_cast<std::int64_t>(pos);
}

std::size_t FWrite(Handle h, std::string_view bytes) {
  std::size_t done = 0;
  while (h >= 0 && done < bytes.size()) {
    ssize_t n = ::write(Fd(h), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      detail::SetFError(OsCode(n < 0 ? errno : ENOSPC, ""));
      return done;
    }
    done += static_cast<std::size_t>(n);
  }
  detail::SetFError(h < 0 ? OsCode(EBADF, "") : 0);
  return done;
}

std::string FRead(Handle h, std::size_t max) {
  if (h < 0) {
    detail::SetFError(OsCode(EBADF, ""));
    return {};
  }
  std::string buf(max, '\0');
  ssize_t n;
  do {
    n = ::read(Fd(h), buf.data(), max);
  } while (n < 0 && errno == EINTR);
  detail::SetFError(n < 0 ? OsCode(errno, "") : 0);
  buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buf;
}

bool FClose(Handle h) {
  bool ok = h >= 0 && ::close(Fd(h)) == 0;
  detail::SetFError(ok ? 0 : OsCode(EBADF, ""));
  return ok;
}

bool FCopy(const std::string& from, const std::string& to) {
  // Like CopyFileA: a file held elsewhere makes the copy fail, quietly.
  std::uint32_t code = 0;
  Handle in = detail::PlatformOpen(from, FO_READ | FO_DENYWRITE, false, 0, code);
  Handle out = in == kInvalidHandle ? kInvalidHandle : detail::PlatformOpen(to, FO_READWRITE, true, 0, code);
  bool ok = out != kInvalidHandle;
  while (ok) {
    std::string chunk = FRead(in, 65536);
    if (chunk.empty()) break;
    ok = FWrite(out, chunk) == chunk.size();
  }
  if (ok) code = FError();
  if (in != kInvalidHandle) ::close(Fd(in));
  if (out != kInvalidHandle) ::close(Fd(out));
  detail::SetFError(code);
  return ok && code == 0;
}

}  // namespace runtime
