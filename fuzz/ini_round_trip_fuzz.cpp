// Arbitrary bytes as a preference file: load, select a group, set a key,
// write back. Sanitizers catch memory faults; the checks below catch a
// write-back that leaves its temporary file behind or loses the file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "files/utf8.h"
#include "fuzz/fuzz_scratch.h"
#include "prefs/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = (qg::InitPreferenceLibrary(), true);
  (void)started;
  FuzzedDataProvider in(data, size);
  std::uint32_t flags = in.ConsumeIntegral<std::uint8_t>() & 3;
  bool selectGroup = in.ConsumeBool();
  std::string group = in.ConsumeRandomLengthString(24);
  std::string key = in.ConsumeRandomLengthString(24);
  std::string value = in.ConsumeRandomLengthString(80);
  std::string content = in.ConsumeRemainingBytesAsString();

  std::string path = qg::fuzz::WriteScratch("input.ini", content);
  qg::OpenIniFile(path.c_str(), flags);
  if (selectGroup) qg::SelectIniGroup(group.c_str());
  const char* stored = qg::WriteIniString(key.c_str(), value.c_str());
  qg::CloseIniFile();

  std::string after = qg::fuzz::ReadScratch(path);
  if (access((path + ".quillgate-new").c_str(), F_OK) == 0) __builtin_trap();
  // A successful write leaves a file that holds the key as the caller gave
  // it (up to its first 0 byte), UTF-8 encoded in a file with the mark.
  std::string expected = key.c_str();
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    std::string encoded(expected.size() * 2, '\0');
    encoded.resize(
        qg::Utf8FromNarrow(expected.data(), expected.size(), encoded.data(), encoded.size()));
    expected = encoded;
  }
  if (stored && after.find(expected) == std::string::npos) __builtin_trap();
  return 0;
}
