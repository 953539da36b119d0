#include "files/utf8.h"

namespace qg {

namespace {
bool IsContinuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }
}  // namespace

std::size_t NarrowFromUtf8(const char* bytes, std::size_t length, char* out, std::size_t capacity) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  std::size_t produced = 0;
  auto emit = [&](unsigned char c) {
    if (out && produced < capacity) out[produced] = static_cast<char>(c);
    ++produced;
  };
  std::size_t i = 0;
  while (i < length) {
    unsigned char lead = in[i];
    std::size_t left = length - i - 1;  // bytes after the lead
    if (lead < 0x80) {
      emit(lead);
      i += 1;
    } else if (lead >= 0xC0 && lead <= 0xDF && left >= 1) {
      if (IsContinuation(in[i + 1])) {
        unsigned code = ((lead & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu);
        emit(code < 256 ? static_cast<unsigned char>(code) : '?');
        i += 2;
      } else {
        emit('?');
        i += 1;
      }
    } else if (lead >= 0xE0 && lead <= 0xEF && left >= 2) {
      emit('?');
      i += !IsContinuation(in[i + 1]) ? 1 : !IsContinuation(in[i + 2]) ? 2 : 3;
    } else if (lead >= 0xF0 && lead <= 0xF7 && left >= 3) {
      emit('?');
      i += !IsContinuation(in[i + 1])   ? 1
           : !IsContinuation(in[i + 2]) ? 2
           : !IsContinuation(in[i + 3]) ? 3
                                        : 4;
    } else {
      i += 1;  // stray continuation, 0xF8-0xFF, or a sequence cut by the end
    }
  }
  return out && produced > capacity ? capacity : produced;
}

std::size_t Utf8FromNarrow(const char* text, std::size_t length, char* out, std::size_t capacity) {
  std::size_t produced = 0;
  for (std::size_t i = 0; i < length; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (produced + 1 > capacity) break;
      out[produced++] = static_cast<char>(b);
    } else {
      if (produced + 2 > capacity) break;
      out[produced++] = static_cast<char>(0xC0 | (b >> 6));
      out[produced++] = static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return produced;
}

}  // namespace qg
