#include "launcher/php_ini_paths.h"

#include "files/ascii_case.h"
#include "prefs/ini_file.h"
#include "system/paths.h"

namespace qg {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The length of session.save_path's "N;" or "N;MODE;" in front of a place.
std::size_t SavePathPrefix(std::string_view element) {
  std::size_t at = 0;
  for (int field = 0; field < 2; ++field) {
    std::size_t digits = at;
    while (digits < element.size() && IsDigit(element[digits])) ++digits;
    if (digits == at || digits == element.size() || element[digits] != ';') break;
    at = digits + 1;
  }
  return at;
}

// The same move with '/' for every '\' in its roots.
RootMove Slashed(RootMove move) {
  for (char32_t& c : move.oldRoot)
    if (c == U'\\') c = U'/';
  for (char32_t& c : move.newRoot)
    if (c == U'\\') c = U'/';
  return move;
}

bool MoveElement(std::string_view element, const std::vector<RootMove>& moves,
                 const IniPathRules& rules, std::string* out) {
  std::u32string characters = CharactersOfBytes(element);
  std::u32string moved;
  for (const RootMove& move : moves) {
    if (MovePathValue(characters, move, &moved) ||
        (rules.slashSeparates && MovePathValue(characters, Slashed(move), &moved))) {
      // Every character is a byte: the roots are bytes, the rest came from
      // the value.
      for (char32_t c : moved) *out += static_cast<char>(c);
      return true;
    }
  }
  return false;
}

struct ValueMover {
  const std::vector<RootMove>* moves;
  IniPathRules rules;
  const char* skipGroup;
  const char* skipKey;
  std::string moved;
};

const char* MoveValue(const IniKeyLine& line, void* context) {
  auto& mover = *static_cast<ValueMover*>(context);
  if (mover.skipKey && EqualIgnoringAsciiCase(line.group, mover.skipGroup) &&
      EqualIgnoringAsciiCase(line.key, mover.skipKey))
    return nullptr;
  if (!MoveIniPathList(line.value, *mover.moves, mover.rules, &mover.moved)) return nullptr;
  return mover.moved.c_str();
}

}  // namespace

IniPathRules ThisPlatformsIniPaths() {
  return kPathSeparator == '\\' ? kWindowsIniPaths : kPosixIniPaths;
}

std::u32string CharactersOfBytes(std::string_view bytes) {
  std::u32string characters;
  characters.reserve(bytes.size());
  for (char b : bytes) characters += static_cast<unsigned char>(b);
  return characters;
}

bool MoveIniPathList(std::string_view value, const std::vector<RootMove>& moves,
                     const IniPathRules& rules, std::string* moved) {
  std::string out;
  bool any = false;
  for (std::size_t at = 0; at <= value.size();) {
    std::size_t end = at;
    while (end < value.size() && value[end] != rules.listSeparator && value[end] != '"') ++end;
    std::string_view element = value.substr(at, end - at);
    std::size_t prefix = SavePathPrefix(element);
    out += element.substr(0, prefix);
    element.remove_prefix(prefix);
    if (MoveElement(element, moves, rules, &out))
      any = true;
    else
      out += element;
    if (end < value.size()) out += value[end];
    at = end + 1;
  }
  if (any) *moved = std::move(out);
  return any;
}

int MoveIniPathValues(const std::vector<RootMove>& moves, const IniPathRules& rules,
                      const char* skipGroup, const char* skipKey) {
  ValueMover mover{&moves, rules, skipGroup, skipKey, {}};
  return EditIniValues(MoveValue, &mover);
}

}  // namespace qg
