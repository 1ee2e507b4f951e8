// WinDllVersion: the version that a DLL already loaded into the process
// reports through its DllGetVersion export. The numbers change only when a
// query succeeds; a DLL is never loaded for the purpose.
#pragma once

#include <cstdint>
#include <string>

class WinDllVersion {
 public:
  /// WinDllVersion:Init: assigns `dll_name` to DLL, which runs the query.
  explicit WinDllVersion(const std::string& dll_name);

  const std::string& DLL() const { return cDllName_; }
  /// Stores the name and queries that DLL; returns the name given.
  std::string DLL(const std::string& dll_name);

  /// True when the DLL reported the Windows NT platform (2).
  bool IsWinNT() const { return PlatformID == kPlatformNT; }

  static constexpr std::uint32_t kPlatformWindows = 1;
  static constexpr std::uint32_t kPlatformNT = 2;

  std::uint32_t MajorVersion = 0;
  std::uint32_t MinorVersion = 0;
  std::uint32_t Build = 0;
  std::uint32_t PlatformID = 0;

 private:
  std::string cDllName_;
};
