#include "launcher/path_text.h"

#include "system/platform.h"

namespace qg {

std::string PathKey(std::u16string_view path) {
  std::string key;
  key.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t code = path[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (path[++i] - 0xDC00);
    if (code < 0x80) {
      key += static_cast<char>(code);
    } else if (code < 0x800) {
      key += static_cast<char>(0xC0 | (code >> 6));
      key += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      key += static_cast<char>(0xE0 | (code >> 12));
      key += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      key += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      key += static_cast<char>(0xF0 | (code >> 18));
      key += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      key += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      key += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return key;
}

std::u16string WideFromPathKey(std::string_view key) {
  std::u16string wide;
  const auto* in = reinterpret_cast<const unsigned char*>(key.data());
  for (std::size_t i = 0; i < key.size();) {
    unsigned char lead = in[i];
    std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra && i + k < key.size(); ++k)
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

std::u16string LongPathOf(const std::u16string& path) {
  std::uint32_t needed = Sys().GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::u16string longer(needed, u'\0');
  std::uint32_t length = Sys().GetLongPathNameW(path.c_str(), longer.data(), needed);
  if (length == 0 || length >= needed) return path;
  longer.resize(length);
  return longer;
}

bool AnsiPathOf(std::u16string_view path, std::string* ansi) {
  ansi->clear();
  if (path.empty()) return true;
  int length = static_cast<int>(path.size());
  int bytes = Sys().WideCharToMultiByteExact(path.data(), length, nullptr, 0);
  if (bytes <= 0) return false;
  ansi->resize(static_cast<std::size_t>(bytes));
  if (Sys().WideCharToMultiByteExact(path.data(), length, ansi->data(), bytes) != bytes) {
    ansi->clear();
    return false;
  }
  return true;
}

std::string RecordTextOf(std::u16string_view path) {
  std::string text;
  if (AnsiPathOf(path, &text)) return text;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < path.size(); ++i) {
    char32_t code = path[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 &&
        path[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (path[++i] - 0xDC00);
    if (code < 0x80 && code != '&') {
      text += static_cast<char>(code);
      continue;
    }
    char digits[8];
    int count = 0;
    for (char32_t rest = code; rest || count < 4; rest >>= 4) digits[count++] = kHex[rest & 0xF];
    text += "&#x";
    while (count > 0) text += digits[--count];
    text += ';';
  }
  return text;
}

}  // namespace qg
