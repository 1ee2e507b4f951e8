// On POSIX the registry is a profile file; the scratch one lives in a
// directory of its own under the temporary directory.
#include <unistd.h>

#include <filesystem>

#include "log/registry_posix.h"
#include "settings/profile.h"
#include "support/machine_registry.h"

namespace fs = std::filesystem;

namespace test_support {

struct ScratchMachineRegistry::Place {
  fs::path dir;
  fs::path file;
  std::string previous;
};

ScratchMachineRegistry::ScratchMachineRegistry() : place_(std::make_unique<Place>()) {
  place_->dir = fs::temp_directory_path() / ("postrine_registry_" + std::to_string(::getpid()));
  fs::remove_all(place_->dir);
  fs::create_directories(place_->dir);
  place_->file = place_->dir / "registry.ini";
  place_->previous = logging::SetMachineRegistryFile(place_->file.string());
}

ScratchMachineRegistry::~ScratchMachineRegistry() {
  logging::SetMachineRegistryFile(place_->previous);
  std::error_code ignored;
  fs::remove_all(place_->dir, ignored);
}

void ScratchMachineRegistry::SetValue(const std::string& key_path, const std::string& name,
                                      const std::string& value) {
  settings::detail::WriteProfileKey(key_path, name, value, place_->file.string());
}

// A directory where the file should be cannot be read, even by root.
void ScratchMachineRegistry::MakeUnopenable() {
  fs::remove(place_->file);
  fs::create_directory(place_->file);
}

}  // namespace test_support
