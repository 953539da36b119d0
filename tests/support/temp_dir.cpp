#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace qg::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("quillgate-test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      root_ = candidate;
      return;
    }
  }
  std::abort();
}

TempDir::~TempDir() {
  std::error_code error;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(root_, error);
}

std::string TempDir::Path(const std::string& name) const { return (root_ / name).string(); }

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  fs::path path = root_ / name;
  fs::create_directories(path.parent_path());
  WriteWholeFile(path.string(), bytes);
  return path.string();
}

std::string TempDir::Read(const std::string& name) const { return ReadWholeFile(Path(name)); }

bool TempDir::Exists(const std::string& name) const { return fs::exists(root_ / name); }

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path SourceDir() {
  if (const char* dir = std::getenv("QG_SOURCE_DIR")) return dir;
  return fs::current_path();
}

}  // namespace qg::testing
