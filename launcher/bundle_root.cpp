#include "launcher/bundle_root.h"

#include "files/utf8.h"
#include "launcher/php_ini_paths.h"
#include "system/paths.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/references.h"

namespace qg {

namespace {

// The short (8.3) form of an existing path; empty when the system gives
// none.
std::u16string ShortPathOf(const std::u16string& path) {
  std::uint32_t needed = Sys().GetShortPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::u16string shorter(needed, u'\0');
  std::uint32_t length = Sys().GetShortPathNameW(path.c_str(), shorter.data(), needed);
  if (length == 0 || length >= needed) return {};
  shorter.resize(length);
  return shorter;
}

}  // namespace

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

bool WidePathOf(const std::string& ansi, std::u16string* wide) {
  wide->clear();
  if (ansi.empty()) return true;
  if (Sys().GetACP() == CP_UTF8_CODE) {
    for (std::size_t i = 0; i < ansi.size();) {
      Utf8Sequence sequence = DecodeUtf8(ansi.data() + i, ansi.size() - i);
      if (!sequence.wellFormed) {
        wide->push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(ansi[i])));
        ++i;
        continue;
      }
      char32_t code = sequence.code;
      if (code < 0x10000) {
        wide->push_back(static_cast<char16_t>(code));
      } else {
        wide->push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
        wide->push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
      }
      i += sequence.size;
    }
    return true;
  }
  int length = static_cast<int>(ansi.size());
  Sys().SetLastError(NO_ERROR_CODE);
  int units = Sys().MultiByteToWideChar(ansi.data(), length, nullptr, 0);
  if (units > 0) {
    wide->resize(static_cast<std::size_t>(units));
    if (Sys().MultiByteToWideChar(ansi.data(), length, wide->data(), units) == units) return true;
  }
  wide->clear();
  if (Sys().GetLastError() == NO_ERROR_CODE) Sys().SetLastError(ERROR_NO_UNICODE_TRANSLATION_CODE);
  return false;
}

namespace {

// The current directory, asked for with a MAX_PATH buffer first; a longer
// one is asked for again with a buffer of the size the system reports, so a
// deep bundle gets its real root rather than an empty one.
template <class Char, class Read>
bool ReadCurrentDirectory(Read read, std::basic_string<Char>* out) {
  Char buffer[MAX_PATH_LENGTH];
  std::uint32_t length = read(MAX_PATH_LENGTH, buffer);
  if (length == 0) return false;
  if (length < MAX_PATH_LENGTH) {
    out->assign(buffer, length);
    return true;
  }
  out->assign(length, Char());
  std::uint32_t got = read(length, out->data());
  if (got == 0 || got >= length) return false;
  out->resize(got);
  return true;
}

template <class Char>
void EndWithSeparator(std::basic_string<Char>* path) {
  if (!path->empty() && path->back() != static_cast<Char>(kPathSeparator))
    *path += static_cast<Char>(kPathSeparator);
}

// The root as the ANSI call gives it, without its wide form.
BundleRoot PresentFromAnsi() {
  std::string narrow;
  bool read = ReadCurrentDirectory<char>(
      [](std::uint32_t size, char* buffer) { return Sys().GetCurrentDirectoryA(size, buffer); },
      &narrow);
  if (!read) return BundleRoot();
  EndWithSeparator(&narrow);
  return BundleRoot::FromAnsi(narrow);
}

bool HasListSeparator(std::string_view bytes) {
  return bytes.find(ThisPlatformsIniPaths().listSeparator) != std::string_view::npos;
}

}  // namespace

std::u16string LongPathOf(const std::u16string& path) {
  std::uint32_t needed = Sys().GetLongPathNameW(path.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::u16string longer(needed, u'\0');
  std::uint32_t length = Sys().GetLongPathNameW(path.c_str(), longer.data(), needed);
  if (length == 0 || length >= needed) return path;
  longer.resize(length);
  return longer;
}

std::string RecordTextOf(std::u16string_view path) {
  std::string text;
  if (AnsiPathOf(path, &text)) return text;
  for (char32_t code : CodePointsFromWide(path)) {
    if (code < 0x80 && code != '&')
      text += static_cast<char>(code);
    else
      AppendReference(&text, code);
  }
  return text;
}

BundleRoot BundleRoot::FromAnsi(std::string ansi) {
  BundleRoot root;
  root.ansi_ = std::move(ansi);
  root.listSeparator_ = HasListSeparator(root.ansi_);
  return root;
}

BundleRoot BundleRoot::FromWide(std::u16string wide, std::string shortForm) {
  BundleRoot root;
  root.held_ = AnsiPathOf(wide, &root.ansi_);
  root.listSeparator_ = HasListSeparator(root.ansi_);
  root.key_ = PathKey(wide);
  root.wide_ = std::move(wide);
  root.short_ = std::move(shortForm);
  return root;
}

// The root as the system names it (wide), held by the code page or not. A
// held root keeps the bytes the ANSI call gives (the folder as it was
// entered); one that is not held gets its short form for PHP.
BundleRoot BundleRoot::Present() {
  std::u16string wide;
  if (!ReadCurrentDirectory<char16_t>(
          [](std::uint32_t size, char16_t* buffer) {
            return Sys().GetCurrentDirectoryW(size, buffer);
          },
          &wide))
    return PresentFromAnsi();
  EndWithSeparator(&wide);
  BundleRoot root;
  Sys().SetLastError(NO_ERROR_CODE);
  if (!AnsiPathOf(wide, &root.ansi_)) {
    // The conversion itself failed: the root is taken as the ANSI call
    // gives it, as it always was.
    if (Sys().GetLastError() != ERROR_NO_UNICODE_TRANSLATION_CODE) return PresentFromAnsi();
    root.held_ = false;
  }
  root.wide_ = LongPathOf(wide);
  root.key_ = PathKey(root.wide_);
  root.listSeparator_ = HasListSeparator(root.ansi_);
  if (root.PhpTakesShortForm()) {
    // Without 8.3 names the system gives the long form back, which the code
    // page does not hold, or which holds the list separator: no short form
    // then. Only plain ASCII reads the same to every PHP, and in every code
    // page.
    std::u16string shortForm = ShortPathOf(root.wide_);
    const char16_t separator = static_cast<char16_t>(ThisPlatformsIniPaths().listSeparator);
    bool ascii = !shortForm.empty();
    for (char16_t unit : shortForm) ascii = ascii && unit < 0x80 && unit != separator;
    if (ascii) {
      root.short_.assign(shortForm.begin(), shortForm.end());
      EndWithSeparator(&root.short_);
    }
  }
  return root;
}

std::u32string BundleRoot::Characters() const {
  if (held_ && !ansi_.empty()) return CodePointsFromNarrow(ansi_.c_str());
  return CodePointsFromWide(wide_);
}

std::string BundleRoot::LogText() const {
  return held_ && !ansi_.empty() ? ansi_ : RecordTextOf(wide_);
}

bool BundleRoot::AttributeMarkupBelow(std::string_view below, std::string* markup) const {
  if (held_) {
    *markup = AttributeMarkupFromNarrow((ansi_ + std::string(below)).c_str());
    return true;
  }
  return AttributeMarkupFromWide(wide_ + std::u16string(below.begin(), below.end()), markup);
}

RootMove BundleRoot::CharacterMoveTo(const BundleRoot& present) const {
  RootMove move;
  move.oldRoot = Characters();
  move.newRoot = present.Characters();
  move.ignoreAsciiCase = Sys().FileNamesIgnoreCase();
  return move;
}

std::vector<ByteRootMove> BundleRoot::PhpMovesTo(const BundleRoot& present) const {
  const std::string& target = present.PhpBytes();
  std::vector<ByteRootMove> moves;
  const std::string* forms[] = {held_ ? &ansi_ : nullptr, &short_};
  for (const std::string* old : forms) {
    if (old && !old->empty())
      moves.push_back(ByteRootMove{*old, target, Sys().FileNamesIgnoreCase()});
  }
  return moves;
}

}  // namespace qg
