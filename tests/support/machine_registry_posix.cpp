// On POSIX the registry is a profile file; the scratch one lives in a
// scratch directory of its own.
#include <filesystem>

#include "log/registry_posix.h"
#include "settings/profile.h"
#include "support/machine_registry.h"
#include "support/scratch_dir.h"

namespace test_support {

struct ScratchMachineRegistry::Place {
  ScratchDir dir{"registry"};
  std::string file = dir / "registry.ini";
  std::string previous = logging::SetMachineRegistryFile(file);
};

ScratchMachineRegistry::ScratchMachineRegistry() : place_(std::make_unique<Place>()) {}

ScratchMachineRegistry::~ScratchMachineRegistry() { logging::SetMachineRegistryFile(place_->previous); }

void ScratchMachineRegistry::SetValue(const std::string& key_path, const std::string& name,
                                      const std::string& value) {
  settings::detail::WriteProfileKey(key_path, name, value, place_->file);
}

// A directory where the file should be cannot be read, even by root.
void ScratchMachineRegistry::MakeUnopenable() {
  std::filesystem::remove(place_->file);
  std::filesystem::create_directory(place_->file);
}

}  // namespace test_support
