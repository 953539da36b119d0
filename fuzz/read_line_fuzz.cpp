// Arbitrary bytes read line by line in every format, with the buffer
// boundary moved by a fuzzed prefix. In Ascii the lines must match a plain
// reference splitter byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/sequential_file.h"
#include "fuzz/fuzz_scratch.h"

namespace {

// Lines end at LF, CR (a following LF belongs to it) or a 0 byte.
std::vector<std::string> ReferenceLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\n' || c == '\0' || c == '\r') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = (qg::InitFileLibrary(), true);
  (void)started;
  static const int kFormats[] = {qg::Ascii,
                                 qg::Utf8,
                                 qg::Unicode,
                                 qg::Ascii | qg::RawRead,
                                 qg::Utf8 | qg::RawRead,
                                 qg::Unicode | qg::RawRead};
  FuzzedDataProvider in(data, size);
  int format = kFormats[in.ConsumeIntegralInRange<int>(0, 5)];
  // Moves the content across the 4096-byte buffer boundary.
  std::size_t shift = in.ConsumeIntegralInRange<std::size_t>(0, 4200);
  std::string content = std::string(shift, 'x') + in.ConsumeRemainingBytesAsString();

  std::string path = qg::fuzz::WriteScratch("lines.txt", content);
  if (!qg::OpenNumberedFile(3, path.c_str())) __builtin_trap();
  std::vector<std::string> lines;
  const auto size64 = static_cast<std::int64_t>(content.size());
  std::int64_t position = 0;
  while (position < size64) {
    lines.push_back(qg::ReadLine(3, format));
    std::int64_t next = qg::FilePosition(3);
    // A byte-wise reader always moves on; a 16-bit one may stop short of a
    // lone trailing byte.
    if (next <= position && (format & 31) != qg::Unicode) __builtin_trap();
    if (next <= position) break;
    position = next;
  }
  if (position > size64) __builtin_trap();
  qg::CloseNumberedFile(3);
  if (format == qg::Ascii && lines != ReferenceLines(content)) __builtin_trap();
  return 0;
}
