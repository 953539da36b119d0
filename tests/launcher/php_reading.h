// php.ini files read back by PHP itself: the `php` program on PATH, run
// without any other ini file, prints what it read for each key asked.
#pragma once

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#endif

namespace qg::testing {

// What PHP read from a file: for each key asked, its value, or "(not set)";
// and what PHP wrote to its standard error (warnings, syntax errors).
struct PhpReading {
  std::vector<std::string> values;
  std::string errors;
};

inline const char kNotSet[] = "(not set)";

#ifndef _WIN32
// The php program on PATH, or empty when there is none.
inline std::string FindPhp() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::filesystem::path candidate =
        std::filesystem::path(dirs.substr(start, end - start)) / "php";
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return {};
}

inline std::string HexDecoded(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Runs `php -n -c ini` and reads `keys` with get_cfg_var (every key of the
// file, known to PHP or not; ini_get would need the setting to exist) or,
// with `settings`, with ini_get. Values travel as hex, so any byte comes
// back as it is.
inline PhpReading ReadWithPhp(const std::string& php, const std::string& ini,
                              const std::vector<std::string>& keys, bool settings = false) {
  const std::string code = std::string("foreach (array_slice($argv, 1) as $k) { $v = ") +
                           (settings ? "ini_get" : "get_cfg_var") +
                           "($k); echo $v === false ? '-' : 'v' . bin2hex($v), \"\\n\"; }";
  std::vector<std::string> words{php, "-n", "-c", ini, "-r", code, "--"};
  words.insert(words.end(), keys.begin(), keys.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  PhpReading reading;
  // The errors go to a file, so neither stream can fill up while the other
  // is read.
  int out[2];
  FILE* errors = std::tmpfile();
  if (!errors || pipe(out) != 0) {
    reading.errors = "no pipe or file for php's output";
    if (errors) std::fclose(errors);
    return reading;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(fileno(errors), 2);
    close(out[0]), close(out[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string output;
  char buffer[4096];
  ssize_t got;
  while ((got = read(out[0], buffer, sizeof buffer)) > 0) output.append(buffer, got);
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::rewind(errors);
  std::size_t size;
  while ((size = std::fread(buffer, 1, sizeof buffer, errors)) > 0)
    reading.errors.append(buffer, size);
  std::fclose(errors);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    reading.errors += "php ended with status " + std::to_string(status);
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(at, end - at);
    reading.values.push_back(line == "-" ? kNotSet : HexDecoded(line.substr(1)));
    at = end + 1;
  }
  return reading;
}
#else
inline std::string FindPhp() { return {}; }
inline PhpReading ReadWithPhp(const std::string&, const std::string&,
                              const std::vector<std::string>&, bool = false) {
  return {};
}
#endif

}  // namespace qg::testing

// Skips the test, saying why, when there is no php to read files back.
#define QG_REQUIRE_PHP(variable)                         \
  const std::string variable = ::qg::testing::FindPhp(); \
  if (variable.empty())                                  \
  GTEST_SKIP() << "no php on PATH to read php.ini back (tools/install-deps.sh installs it)"
