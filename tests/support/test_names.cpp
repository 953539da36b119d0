#include "tests/support/test_names.h"

namespace qg::testing {

std::string NameFromText(const char* text) {
  if (!text) return "none";
  if (!*text) return "empty";
  static const char kHex[] = "0123456789ABCDEF";
  std::string name;
  bool gap = false;
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool ascii = c < 0x80;
    bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (ascii && !alnum) {
      gap = true;
      continue;
    }
    if (gap && !name.empty()) name += '_';
    gap = false;
    if (alnum) {
      name += static_cast<char>(c);
    } else {
      name += 'x';
      name += kHex[c >> 4];
      name += kHex[c & 15];
    }
  }
  return name.empty() ? "marks" : name;
}

}  // namespace qg::testing
