#include "launcher/path_text.h"

#include "files/utf8.h"

#include "system/platform.h"

namespace qg {

PathKey::PathKey(std::u16string_view path) : text_(GeneralizedUtf8FromWide(path)) {}

PathKey PathKey::FromText(std::string_view text) {
  PathKey key;
  key.text_ = text;
  return key;
}

std::u16string PathKey::Wide() const { return WideFromGeneralizedUtf8(text_); }

std::u16string LongPathOf(const std::u16string& path) {
  std::uint32_t needed = Sys().GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::u16string longer(needed, u'\0');
  std::uint32_t length = Sys().GetLongPathNameW(path.c_str(), longer.data(), needed);
  if (length == 0 || length >= needed) return path;
  longer.resize(length);
  return longer;
}

std::u16string ShortPathOf(const std::u16string& path) {
  std::uint32_t needed = Sys().GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::u16string shorter(needed, u'\0');
  std::uint32_t length = Sys().GetShortPathNameW(path.c_str(), shorter.data(), needed);
  if (length == 0 || length >= needed) return {};
  shorter.resize(length);
  return shorter;
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
  for (char32_t code : CodePointsFromWide(path)) {
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
