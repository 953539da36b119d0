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

std::string GeneralizedUtf8FromWide(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::u16string WideFromGeneralizedUtf8(std::string_view bytes) {
  std::u16string wide;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t i = 0; i < bytes.size();) {
    unsigned char lead = in[i];
    std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra && i + k < bytes.size(); ++k)
      code = (code << 6) | (in[i + k] & 0x3F);
    i += extra + 1;
    if (code < 0x10000) {
      wide += static_cast<char16_t>(code);
    } else {
      wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return wide;
}

bool Utf8FromWide(std::u16string_view wide, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] < 0xD800 || wide[i] > 0xDFFF) continue;
    if (wide[i] > 0xDBFF || i + 1 == wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF)
      return false;
    ++i;
  }
  *out = GeneralizedUtf8FromWide(wide);
  return true;
}

bool WideFromUtf8(std::string_view bytes, std::u16string* out) {
  out->clear();
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t length = bytes.size();
  for (std::size_t i = 0; i < length;) {
    unsigned char lead = in[i];
    std::size_t extra = lead < 0x80                    ? 0
                        : lead >= 0xC2 && lead <= 0xDF ? 1
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                       : 4;
    bool valid = extra < 4 && extra <= length - i - 1;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      valid = IsContinuation(in[i + k]);
      code = (code << 6) | (in[i + k] & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (!valid || code < kSmallest[extra] || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      out->clear();
      return false;
    }
    if (code < 0x10000) {
      out->push_back(static_cast<char16_t>(code));
    } else {
      out->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace qg
