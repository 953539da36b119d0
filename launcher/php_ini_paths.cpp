#include "launcher/php_ini_paths.h"

#include <algorithm>

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
ByteRootMove Slashed(ByteRootMove move) {
  for (char& c : move.oldRoot)
    if (c == '\\') c = '/';
  for (char& c : move.newRoot)
    if (c == '\\') c = '/';
  return move;
}

bool MoveElement(std::string_view element, const std::vector<ByteRootMove>& moves,
                 const IniPathRules& rules, std::string* out) {
  std::string moved;
  for (const ByteRootMove& move : moves) {
    if (MovePathValue(element, move, &moved) ||
        (rules.slashSeparates && MovePathValue(element, Slashed(move), &moved))) {
      *out += moved;
      return true;
    }
  }
  return false;
}

// Appends `text` with each place of the list it is moved; true when one
// moved.
bool MoveListElements(std::string_view text, const std::vector<ByteRootMove>& moves,
                      const IniPathRules& rules, std::string* out) {
  bool any = false;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find(rules.listSeparator, at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view element = text.substr(at, end - at);
    std::size_t prefix = SavePathPrefix(element);
    *out += element.substr(0, prefix);
    element.remove_prefix(prefix);
    if (MoveElement(element, moves, rules, out))
      any = true;
    else
      *out += element;
    if (end < text.size()) *out += rules.listSeparator;
    at = end + 1;
  }
  return any;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A value cut into the pieces PHP reads. The bytes of a Kept piece (blanks,
// quotes, "${NAME}", a comment) stay as they are; the others are texts,
// each read as a list of places.
enum class PieceKind { Kept, Bare, SingleQuoted, DoubleQuoted };
// What ends a run of a double-quoted string: its closing quote, the closing
// quote that ends the line (a backslash right before that one stays a
// backslash), or a "${NAME}".
enum class RunEnd { Quote, QuoteEndingTheLine, Variable };

struct Piece {
  PieceKind kind;
  std::size_t begin, end;  // in the value; a single-quoted piece with its quotes
  RunEnd runEnd = RunEnd::Quote;
  std::string text;  // what PHP reads

  static Piece Of(PieceKind kind, std::size_t begin, std::size_t end, std::string_view text = {}) {
    return Piece{kind, begin, end, RunEnd::Quote, std::string(text)};
  }
};

// Reads the run of a double-quoted string from `at` to its closing quote or
// a "${": false when the string does not close on this line.
bool ReadDoubleRun(std::string_view value, std::size_t at, Piece* run) {
  run->kind = PieceKind::DoubleQuoted;
  run->begin = at;
  run->text.clear();
  const std::size_t size = value.size();
  for (std::size_t i = at; i < size;) {
    char c = value[i];
    if (c == '"' || (c == '$' && i + 1 < size && value[i + 1] == '{')) {
      run->end = i;
      run->runEnd = c == '$'        ? RunEnd::Variable
                    : i + 1 == size ? RunEnd::QuoteEndingTheLine
                                    : RunEnd::Quote;
      return true;
    }
    if (c == '\\' && i + 1 < size) {
      char next = value[i + 1];
      if (next == '"' && i + 2 == size) {
        run->text += c;
        run->end = i + 1;
        run->runEnd = RunEnd::QuoteEndingTheLine;
        return true;
      }
      if (next == '\\' || next == '"' || next == '$') {
        run->text += next;
        i += 2;
        continue;
      }
    }
    run->text += c;
    ++i;
  }
  return false;
}

// Cuts `value` into pieces as PHP reads it, up to its comment. False when a
// string or a variable in it does not close on its line: such a value goes
// on into the next lines, and is left alone.
bool ReadPieces(std::string_view value, std::vector<Piece>* pieces) {
  const std::size_t size = value.size();
  auto keep = [&](std::size_t from, std::size_t to) {
    if (to > from) pieces->push_back(Piece::Of(PieceKind::Kept, from, to));
  };
  // The end of the "${NAME}" at `at`, or 0 when it does not close.
  auto variableEnd = [&](std::size_t at) {
    std::size_t close = value.find('}', at);
    return close == std::string_view::npos ? 0 : close + 1;
  };
  for (std::size_t i = 0; i < size;) {
    char c = value[i];
    if (c == ';') {
      keep(i, size);
      break;
    }
    if (IsBlank(c)) {
      std::size_t end = i;
      while (end < size && IsBlank(value[end])) ++end;
      keep(i, end);
      i = end;
    } else if (c == '$' && i + 1 < size && value[i + 1] == '{') {
      std::size_t end = variableEnd(i);
      if (!end) return false;
      keep(i, end);
      i = end;
    } else if (c == '\'') {
      std::size_t close = value.find('\'', i + 1);
      if (close == std::string_view::npos) return false;
      pieces->push_back(
          Piece::Of(PieceKind::SingleQuoted, i, close + 1, value.substr(i + 1, close - i - 1)));
      i = close + 1;
    } else if (c == '"') {
      keep(i, i + 1);
      for (++i;;) {
        Piece run;
        if (!ReadDoubleRun(value, i, &run)) return false;
        i = run.end;
        RunEnd runEnd = run.runEnd;
        if (run.end > run.begin) pieces->push_back(std::move(run));
        if (runEnd != RunEnd::Variable) break;
        std::size_t end = variableEnd(i);
        if (!end) return false;
        keep(i, end);
        i = end;
      }
      keep(i, i + 1);
      ++i;
    } else {
      // A bare text, without the blanks after it; a '$' takes the byte
      // after it along, whatever it is.
      std::size_t end = i, last = i;
      while (end < size) {
        char b = value[end];
        if (b == ';' || b == '"' || b == '\'') break;
        if (b == '$') {
          if (end + 1 < size && value[end + 1] == '{') break;
          end = std::min(end + 2, size);
          last = end;
          continue;
        }
        ++end;
        if (!IsBlank(b)) last = end;
      }
      pieces->push_back(Piece::Of(PieceKind::Bare, i, last, value.substr(i, last - i)));
      i = last;
    }
  }
  return true;
}

// The bytes of a double-quoted run whose text became `text`: its own bytes
// with the places moved where PHP reads those as `text` (so its escapes
// stay), otherwise `text` written by the rule.
std::string MovedDoubleRun(std::string_view bytes, RunEnd runEnd, const std::string& text,
                           const std::vector<ByteRootMove>& moves, const IniPathRules& rules) {
  std::string probe;
  if (MoveListElements(bytes, moves, rules, &probe)) {
    const std::size_t size = probe.size();
    probe += runEnd == RunEnd::Variable ? "${" : runEnd == RunEnd::Quote ? "\" " : "\"";
    Piece run;
    if (ReadDoubleRun(probe, 0, &run) && run.end == size && run.runEnd == runEnd &&
        run.text == text)
      return probe.substr(0, size);
  }
  std::string written = PhpIniValue(text, IniValueForm::DoubleQuoted);
  return written.substr(1, written.size() - 2);
}

struct ValueMover {
  const std::vector<ByteRootMove>* moves;
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

bool MoveIniPathList(std::string_view value, const std::vector<ByteRootMove>& moves,
                     const IniPathRules& rules, std::string* moved) {
  std::vector<Piece> pieces;
  if (!ReadPieces(value, &pieces)) return false;
  std::string out;
  bool any = false;
  for (const Piece& piece : pieces) {
    std::string_view bytes = value.substr(piece.begin, piece.end - piece.begin);
    std::string text;
    bool movedText =
        piece.kind != PieceKind::Kept && MoveListElements(piece.text, moves, rules, &text);
    // A double-quoted place whose escapes were never written (a share's
    // "\\server\..." that PHP reads "\server\...", as older launchers
    // wrote it) is moved by its bytes, and then written as PHP reads it.
    if (!movedText && piece.kind == PieceKind::DoubleQuoted && bytes != piece.text) {
      text.clear();
      movedText = MoveListElements(bytes, moves, rules, &text);
    }
    if (!movedText) {
      out += bytes;
      continue;
    }
    any = true;
    switch (piece.kind) {
      case PieceKind::Bare:
        out += PhpIniValue(text, IniValueForm::Bare);
        break;
      case PieceKind::SingleQuoted:
        out += PhpIniValue(text, IniValueForm::SingleQuoted);
        break;
      case PieceKind::DoubleQuoted:
        out += MovedDoubleRun(bytes, piece.runEnd, text, moves, rules);
        break;
      case PieceKind::Kept:
        break;
    }
  }
  if (any) *moved = std::move(out);
  return any;
}

int MoveIniPathValues(const std::vector<ByteRootMove>& moves, const IniPathRules& rules,
                      const char* skipGroup, const char* skipKey) {
  ValueMover mover{&moves, rules, skipGroup, skipKey, {}};
  return EditIniValues(MoveValue, &mover);
}

}  // namespace qg
