// IniFileSpec: typed reads and writes of the keys of one settings file.
// Nothing is cached and no file stays open: every call goes to the file on
// disk, so a change another program makes is seen by the next call. The
// checking readers write a missing value's default back, so the file comes
// to list every setting the program asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/file_spec.h"

class IniFileSpec : public runtime::FileSpec {
 public:
  /// IniFileSpec:Init. A bare file name is completed with the current
  /// directory of this moment.
  explicit IniFileSpec(const std::string& file_name);

  /// The value without its trailing blanks, or `fallback` when the key is
  /// missing; at most 8191 bytes.
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& fallback = " ");
  /// The value, or `fallback`, which is then also written to the file,
  /// when the value is missing or blank.
  std::string GetStringCheck(const std::string& section, const std::string& key,
                             const std::string& fallback);
  /// The value's leading decimal number (0 when it has none), or `fallback`.
  std::int64_t GetInt(const std::string& section, const std::string& key,
                      std::int64_t fallback = 0);
  /// As GetInt, but a missing or empty value gives `fallback`, which is then
  /// also written to the file. A value that is no number gives 0 and stays.
  std::int64_t GetIntCheck(const std::string& section, const std::string& key,
                           std::int64_t fallback);

  IniFileSpec& WriteString(const std::string& section, const std::string& key,
                           const std::string& value);
  IniFileSpec& WriteInt(const std::string& section, const std::string& key, std::int64_t value);

  /// The keys read so far whose value is no text on this system (on
  /// Windows: neither UTF-8 nor text in the ANSI code page), in the order
  /// they were read. Such a value must not be used.
  const std::vector<std::string>& UnreadableKeys() const { return unreadable_; }

 private:
  std::vector<std::string> unreadable_;
};
