// A scratch folder of the fuzzing process, in memory where the system has
// one, for the files each input is written to.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace qg::fuzz {

inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = base + "/quillgate-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) std::abort();
    return templ;
  }();
  return dir;
}

inline std::string WriteScratch(const std::string& name, const std::string& bytes) {
  std::string path = ScratchDir() + "/" + name;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  return path;
}

inline std::string ReadScratch(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return bytes;
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

}  // namespace qg::fuzz
