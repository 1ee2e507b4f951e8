// FileSpec: a file name taken apart into drive, directory path, base name
// and extension, with the whole name to read and replace.
#pragma once

#include <string>

namespace runtime {

class FileSpec {
 public:
  FileSpec() = default;
  explicit FileSpec(const std::string& name);  // FileSpec:Init

  /// "D:" when the name starts with a drive letter (Windows only); else empty.
  std::string Drive() const;
  /// The directory part with its closing separator; empty for a bare name.
  std::string Path() const;
  /// The name without drive and directory, extension included.
  std::string FileName() const;
  /// The extension with its dot; empty when there is none.
  std::string Extension() const;

  const std::string& FullPath() const { return full_; }
  const std::string& FullPath(const std::string& name);

 private:
  std::string full_;
};

}  // namespace runtime
