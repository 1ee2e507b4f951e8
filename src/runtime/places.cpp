#include "runtime/places.h"

#include "runtime/process.h"

namespace runtime {

namespace {
std::string g_default_path;
std::string g_default_dir;
std::string g_work_dir;
}  // namespace

std::string GetDefault() { return g_default_path; }
void SetDefault(const std::string& path) { g_default_path = path; }
std::string GetDefaultDir() { return g_default_dir; }
void SetDefaultDir(const std::string& dir) { g_default_dir = dir; }

void SetWorkDir(const std::string& dir) { g_work_dir = dir; }

std::string WorkDir() {
  if (!g_work_dir.empty()) return g_work_dir;
  std::string exe = ExeFileName();
  std::size_t cut = exe.find_last_of(PathSeparator());
  return cut == std::string::npos ? std::string() : exe.substr(0, cut + 1);
}

}  // namespace runtime
