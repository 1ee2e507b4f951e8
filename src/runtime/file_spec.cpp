#include "runtime/file_spec.h"

#include <cstring>

#include "runtime/activation.h"
#include "runtime/places.h"

namespace runtime {

namespace {
// Length of the drive prefix: "X:" on Windows; a POSIX name has none.
std::size_t DriveLength(const std::string& name) {
  if (std::strcmp(PathSeparator(), "\\") != 0) return 0;
  const bool letter = name.size() >= 2 && ((name[0] >= 'A' && name[0] <= 'Z') ||
                                           (name[0] >= 'a' && name[0] <= 'z'));
  return letter && name[1] == ':' ? 2 : 0;
}

// Position after the last separator, or after the drive when there is none.
std::size_t NameStart(const std::string& name) {
  const std::size_t sep = name.find_last_of(PathSeparator());
  return sep == std::string::npos ? DriveLength(name) : sep + 1;
}
}  // namespace

FileSpec::FileSpec(const std::string& name) : full_(name) {
  const Activation activation("FILESPEC:INIT", __LINE__);
}

std::string FileSpec::Drive() const {
  const Activation activation("FILESPEC:DRIVE", __LINE__);
  return full_.substr(0, DriveLength(full_));
}

std::string FileSpec::Path() const {
  const Activation activation("FILESPEC:PATH", __LINE__);
  const std::size_t drive = DriveLength(full_);
  return full_.substr(drive, NameStart(full_) - drive);
}

std::string FileSpec::FileName() const {
  const Activation activation("FILESPEC:FILENAME", __LINE__);
  return full_.substr(NameStart(full_));
}

std::string FileSpec::Extension() const {
  const Activation activation("FILESPEC:EXTENSION", __LINE__);
  const std::string name = FileName();
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

const std::string& FileSpec::FullPath(const std::string& name) {
  const Activation activation("FILESPEC:FULLPATH", __LINE__);
  full_ = name;
  return full_;
}

}  // namespace runtime
