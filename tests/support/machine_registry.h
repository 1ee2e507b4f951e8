// A scratch stand-in for HKEY_LOCAL_MACHINE that lives as long as the test,
// so that tests of the web server's log directory never read or change the
// machine's own settings.
#pragma once

#include <memory>
#include <string>

namespace test_support {

class ScratchMachineRegistry {
 public:
  ScratchMachineRegistry();
  ~ScratchMachineRegistry();
  ScratchMachineRegistry(const ScratchMachineRegistry&) = delete;
  ScratchMachineRegistry& operator=(const ScratchMachineRegistry&) = delete;

  /// Sets the value `name` of the key `key_path` as a text.
  void SetValue(const std::string& key_path, const std::string& name, const std::string& value);
  /// From now on no key can be opened or created.
  void MakeUnopenable();

  struct Place;

 private:
  std::unique_ptr<Place> place_;
};

}  // namespace test_support
