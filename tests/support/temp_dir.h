// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>

namespace qg::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // The path of `name` below the folder, as a string.
  std::string Path(const std::string& name) const;
  // Writes `bytes` to `name` (folders made as needed) and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // The whole content of `name`; empty when it cannot be read.
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::filesystem::path root_;
};

// Whole-file helpers for paths outside a TempDir.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// The project's source folder (for test data), from QG_SOURCE_DIR or the
// working directory.
std::filesystem::path SourceDir();

}  // namespace qg::testing
