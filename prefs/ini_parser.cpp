// Cuts the loaded content into entries in place.
//
// Every line is read by its first non-blank byte: ";" a comment, "[" a group
// header, a line end nothing, anything else a key line. Texts end at the
// first CR, LF or 0 byte; the byte that ends a text is overwritten with a
// terminator only after the start of the next line has been found. A 0 byte
// before the end of the content ends its line like a line end does.
#include "prefs/ini_model.h"

namespace qg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == 0; }

char* SkipBlanks(char* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

char* FindLineEnd(char* p) {
  while (!IsLineEnd(*p)) ++p;
  return p;
}

}  // namespace

bool ParseIniContent(IniFile& file, char* content, std::uint32_t size) {
  char* p = content;
  char* end = content + size;
  while (p < end) {
    p = SkipBlanks(p);
    IniEntry entry{};
    char* lineEnd;
    if (*p == ';') {
      ++p;
      if (*p == ' ') ++p;
      entry.kind = Comment;
      entry.text = p;
      lineEnd = FindLineEnd(p);
      entry.textCapacity = static_cast<std::uint32_t>(lineEnd - p);
    } else if (*p == '[') {
      ++p;
      entry.kind = GroupHeader;
      entry.text = p;
      char* close = p;
      while (*close != ']' && !IsLineEnd(*close)) ++close;
      entry.textCapacity = static_cast<std::uint32_t>(close - p);
      lineEnd = FindLineEnd(close);
      *close = 0;  // a "]" before the line end; else the line end itself
    } else if (IsLineEnd(*p)) {
      entry.kind = IniEntryKind{};  // a blank line
      lineEnd = p;
    } else {
      entry.kind = KeyValue;
      entry.key = p;
      char* equals = p;
      while (*equals != '=' && !IsLineEnd(*equals)) ++equals;
      char* keyEnd = equals;
      while (keyEnd > p && IsBlank(keyEnd[-1])) --keyEnd;
      if (*equals == '=') {
        entry.text = SkipBlanks(equals + 1);
        lineEnd = FindLineEnd(entry.text);
        entry.textCapacity = static_cast<std::uint32_t>(lineEnd - entry.text);
      } else {
        entry.text = keyEnd;  // the empty value shares the key's terminator
        lineEnd = equals;
      }
      *keyEnd = 0;  // a blank, the "=" or the line end
    }

    // The next line starts after every CR, LF and 0 byte that follows.
    char* next = lineEnd;
    while (next < end && IsLineEnd(*next)) ++next;
    *lineEnd = 0;
    p = next;

    if (!entry.kind) continue;
    auto* node = static_cast<IniEntry*>(Sys().HeapAlloc(sizeof(IniEntry), false));
    if (!node) return false;
    *node = entry;
    AppendEntry(file, node);
  }
  return true;
}

}  // namespace qg
