#include "launcher/php_ini_value.h"

namespace qg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The bytes that mean something in a bare value, or cannot stand in one.
bool IsBareSyntax(char c) {
  switch (c) {
    case ';':
    case '=':
    case '(':
    case ')':
    case '!':
    case '~':
    case '&':
    case '|':
    case '^':
    case '\'':
    case '"':
    case '\r':
    case '\n':
    case '\0':
      return true;
    default:
      return false;
  }
}

std::string DoubleQuoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    // The closing quote counts as a '"' after the last byte.
    char next = i + 1 < text.size() ? text[i + 1] : '"';
    if (c == '\\' && (next == '\\' || next == '"' || next == '$'))
      out += "\\\\";
    else if (c == '"' || (c == '$' && next == '{'))
      out += '\\', out += c;
    else
      out += c;
  }
  out += '"';
  return out;
}

}  // namespace

bool ReadsRightBare(std::string_view text) {
  if (text.empty() || IsBlank(text.front()) || IsBlank(text.back())) return false;
  bool onlyName = true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    // A '$' takes the byte after it along as it is, but "${" begins a
    // variable, and a last one takes the line end.
    if (IsBareSyntax(c) || (c == '$' && (i + 1 == text.size() || text[i + 1] == '{'))) return false;
    onlyName = onlyName && IsNameCharacter(c);
  }
  return !onlyName;
}

std::string PhpIniValue(std::string_view text, IniValueForm form) {
  switch (form) {
    case IniValueForm::Bare:
      if (ReadsRightBare(text)) return std::string(text);
      break;
    case IniValueForm::SingleQuoted:
      if (text.find_first_of(std::string_view("'\r\n\0", 4)) == std::string_view::npos)
        return "'" + std::string(text) + "'";
      break;
    case IniValueForm::DoubleQuoted:
      break;
  }
  return DoubleQuoted(text);
}

}  // namespace qg
