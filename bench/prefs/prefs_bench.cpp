// Times the launcher's preference round trip (load php.ini, select PHP, set
// auto_prepend_file, write back) against libinih parsing the same file, in
// the same run and interleaved, and prints both and their ratio.
//
//   prefs_bench [php.ini path] [iterations] [work folder]
//
// The work folder (default: the system's temporary folder) holds the copies;
// put it on a RAM file system to take the disk out of the figures.
//
// The round trip is measured three ways: as shipped (the temporary file is
// flushed to disk and the replacing rename synced), without the flush of the
// temporary file, and without any sync at all, so the ratio shows how much of
// the time the disk takes.
#include <ini.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "prefs/ini_file.h"
#include "system/platform.h"
#include "tests/support/forwarding_platform.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Skips the flush of the temporary file; with `plainRename`, the replace is
// a rename without the folder sync as well.
class NoSyncPlatform : public qg::testing::ForwardingPlatform {
 public:
  NoSyncPlatform(qg::Platform& inner, bool plainRename)
      : ForwardingPlatform(inner), plainRename_(plainRename) {}
  bool FlushFileBuffers(qg::Handle) override { return true; }
  bool MoveFileReplace(const char* source, const char* target) override {
    if (!plainRename_) return inner_.MoveFileReplace(source, target);
    std::error_code error;
    fs::rename(source, target, error);
    return !error;
  }

 private:
  bool plainRename_;
};

// Adds up the time spent in the file calls of the round trip, so that the
// time of the library's own work can be told from the time of the system.
class TimingPlatform : public qg::testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  double openMicros = 0, readMicros = 0, writeMicros = 0, flushMicros = 0, replaceMicros = 0,
         closeMicros = 0;

  double Total() const {
    return openMicros + readMicros + writeMicros + flushMicros + replaceMicros + closeMicros;
  }
  void Reset() {
    openMicros = readMicros = writeMicros = flushMicros = replaceMicros = closeMicros = 0;
  }

  qg::Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                         qg::Creation creation) override {
    Clock::time_point start = Clock::now();
    qg::Handle handle = inner_.CreateFileA(path, access, share, creation);
    openMicros += Since(start);
    return handle;
  }
  bool ReadFile(qg::Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override {
    Clock::time_point start = Clock::now();
    bool ok = inner_.ReadFile(file, buffer, count, read);
    readMicros += Since(start);
    return ok;
  }
  bool WriteFile(qg::Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    Clock::time_point start = Clock::now();
    bool ok = inner_.WriteFile(file, buffer, count, written);
    writeMicros += Since(start);
    return ok;
  }
  bool FlushFileBuffers(qg::Handle file) override {
    Clock::time_point start = Clock::now();
    bool ok = inner_.FlushFileBuffers(file);
    flushMicros += Since(start);
    return ok;
  }
  bool MoveFileReplace(const char* source, const char* target) override {
    Clock::time_point start = Clock::now();
    bool ok = inner_.MoveFileReplace(source, target);
    replaceMicros += Since(start);
    return ok;
  }
  bool CloseHandle(qg::Handle handle) override {
    Clock::time_point start = Clock::now();
    bool ok = inner_.CloseHandle(handle);
    closeMicros += Since(start);
    return ok;
  }

 private:
  static double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path FindDevelopmentIni() {
  std::error_code error;
  std::vector<fs::path> found;
  for (const auto& version : fs::directory_iterator("/usr/lib/php", error)) {
    fs::path candidate = version.path() / "php.ini-development";
    if (fs::is_regular_file(candidate, error)) found.push_back(candidate);
  }
  std::sort(found.begin(), found.end());
  return found.empty() ? fs::path() : found.back();
}

int CountingHandler(void* user, const char*, const char*, const char*) {
  ++*static_cast<long*>(user);
  return 1;
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Series {
  std::vector<double> samples;
  double Median() {
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0 : samples[samples.size() / 2];
  }
  double Mean() const {
    double sum = 0;
    for (double s : samples) sum += s;
    return samples.empty() ? 0 : sum / static_cast<double>(samples.size());
  }
};

// One round trip of the launcher on `path`; its duration.
double RoundTrip(const std::string& path, const std::string& value) {
  Clock::time_point start = Clock::now();
  qg::OpenIniFile(path.c_str(), 0);
  qg::SelectIniGroup("PHP");
  qg::WriteIniString("auto_prepend_file", value.c_str());
  qg::CloseIniFile();
  return Micros(Clock::now() - start);
}

double InihParse(const std::string& path, long* pairs) {
  Clock::time_point start = Clock::now();
  int result = ini_parse(path.c_str(), CountingHandler, pairs);
  double time = Micros(Clock::now() - start);
  if (result < 0) {
    std::fprintf(stderr, "inih could not read %s\n", path.c_str());
    std::exit(1);
  }
  return time;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path source = argc > 1 && *argv[1] ? fs::path(argv[1]) : FindDevelopmentIni();
  int iterations = argc > 2 ? std::atoi(argv[2]) : 300;
  if (source.empty() || !fs::is_regular_file(source)) {
    std::fprintf(stderr, "php.ini-development not found; pass a path\n");
    return 1;
  }
  std::string original = ReadAll(source);
  fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
  fs::path folder = base / ("quillgate-bench-" + std::to_string(std::random_device()()));
  fs::create_directories(folder);
  std::string ours = (folder / "php.ini").string();
  std::string theirs = (folder / "inih.ini").string();
  WriteAll(theirs, original);
  std::string value = "\"" + (folder / "bundle" / "header.php").string() + "\"";

  qg::InitPreferenceLibrary();
  NoSyncPlatform noFlush(qg::NativePlatform(), false);
  NoSyncPlatform noSync(qg::NativePlatform(), true);
  TimingPlatform timing(qg::NativePlatform());
  struct Variant {
    const char* name;
    qg::Platform* platform;
    Series ours, inih;
  } variants[] = {{"round trip, as shipped (flush + synced rename)", &timing, {}, {}},
                  {"round trip, without the flush of the temp file", &noFlush, {}, {}},
                  {"round trip, without any sync", &noSync, {}, {}}};
  Series loadOnly, ownWork;

  long pairs = 0;
  for (int i = -5; i < iterations; ++i) {  // the first five warm up
    for (Variant& v : variants) {
      WriteAll(ours, original);
      qg::SetPlatform(v.platform);
      double callsBefore = timing.Total();
      double ourTime = RoundTrip(ours, value);
      double callTime = timing.Total() - callsBefore;
      qg::SetPlatform(nullptr);
      double inihTime = InihParse(theirs, &pairs);
      if (i < 0) {
        if (v.platform == &timing) timing.Reset();
        continue;
      }
      if (v.platform == &timing) ownWork.samples.push_back(ourTime - callTime);
      v.ours.samples.push_back(ourTime);
      v.inih.samples.push_back(inihTime);
    }
    WriteAll(ours, original);
    Clock::time_point start = Clock::now();
    qg::OpenIniFile(ours.c_str(), 0);
    qg::CloseIniFile();
    if (i >= 0) loadOnly.samples.push_back(Micros(Clock::now() - start));
  }

  std::printf("file: %s (%zu bytes), %d iterations, interleaved\n", source.c_str(), original.size(),
              iterations);
  std::printf("%-50s %12s %12s %12s %8s\n", "", "ours med us", "inih med us", "ours mean", "ratio");
  for (Variant& v : variants) {
    double o = v.ours.Median(), p = v.inih.Median();
    std::printf("%-50s %12.1f %12.1f %12.1f %7.2fx\n", v.name, o, p, v.ours.Mean(), o / p);
  }
  double inihAll = 0;
  for (Variant& v : variants) inihAll += v.inih.Median();
  inihAll /= 3;
  double l = loadOnly.Median();
  std::printf("%-50s %12.1f %12.1f %12.1f %7.2fx\n", "load only (open + close, no write)", l,
              inihAll, loadOnly.Mean(), l / inihAll);
  double n = iterations;
  std::printf(
      "as shipped, mean per round trip in file calls: open %.1f, read %.1f, write %.1f, "
      "flush %.1f, replace %.1f, close %.1f us\n",
      timing.openMicros / n, timing.readMicros / n, timing.writeMicros / n, timing.flushMicros / n,
      timing.replaceMicros / n, timing.closeMicros / n);
  double own = ownWork.Median();
  std::printf(
      "as shipped, median time outside the file calls (parse, edit, text, heap): %.1f us "
      "(%.2fx inih's parse)\n",
      own, own / variants[0].inih.Median());
  std::printf("target: whole round trip within 2x of inih's parse\n");

  std::error_code error;
  fs::remove_all(folder, error);
  return pairs > 0 ? 0 : 1;
}
