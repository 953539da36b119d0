#include "launcher/php_versions.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "files/utf8.h"
#include "launcher/bundle_root.h"
#include "system/paths.h"
#include "system/platform.h"

namespace qg {

namespace {

// The wide form of an ANSI path, for the wide calls. Under a UTF-8 code
// page (every POSIX path) it is the path's decoding, a byte outside UTF-8
// as U+DC00 + byte, which is how the POSIX wide calls take such a byte;
// under any other the code page's own conversion.
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

// A zero-terminated name of a listing's entry, within its field.
template <std::size_t N>
std::u16string_view NameIn(const char16_t (&field)[N]) {
  const char16_t* end = std::find(field, field + N, u'\0');
  return std::u16string_view(field, static_cast<std::size_t>(end - field));
}

// Takes one entry of the PHP folder's listing into `found` when it is a
// runtime's folder. False only when looking at it failed.
bool TakeEntry(const std::string& phpDir, const FindDataW& entry, PhpVersionFolders* found) {
  if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY_FLAG)) return true;
  std::u16string_view name = NameIn(entry.cFileName);
  if (name.empty() || name == u"." || name == u"..") return true;
  std::string ansi;
  Sys().SetLastError(NO_ERROR_CODE);
  if (!AnsiPathOf(name, &ansi)) {
    if (Sys().GetLastError() != ERROR_NO_UNICODE_TRANSLATION_CODE) return false;
    std::u16string_view alternate = NameIn(entry.cAlternateFileName);
    bool ascii = !alternate.empty() && std::all_of(alternate.begin(), alternate.end(),
                                                   [](char16_t u) { return u < 0x80; });
    if (!ascii) {
      ++found->unreachable;
      return true;
    }
    ansi.assign(alternate.begin(), alternate.end());
  }
  std::string ini = phpDir + ansi + kSep + kPhpIniName;
  std::uint32_t attributes = Sys().GetFileAttributesA(ini.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES_VALUE) {
    std::uint32_t error = Sys().GetLastError();
    return error == ERROR_FILE_NOT_FOUND_CODE || error == ERROR_PATH_NOT_FOUND_CODE;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY_FLAG)) found->names.push_back(std::move(ansi));
  return true;
}

}  // namespace

bool ListPhpVersionFolders(const std::string& phpDir, PhpVersionFolders* found) {
  *found = PhpVersionFolders{};
  std::u16string pattern;
  if (!WidePathOf(phpDir, &pattern)) return false;
  pattern += u'*';
  FindDataW entry;
  Handle listing = Sys().FindFirstFileW(pattern.c_str(), &entry);
  if (!listing) return false;
  PhpVersionFolders listed;
  bool whole = true;
  for (;;) {
    if (!TakeEntry(phpDir, entry, &listed)) {
      whole = false;
      break;
    }
    if (!Sys().FindNextFileW(listing, &entry)) {
      whole = Sys().GetLastError() == ERROR_NO_MORE_FILES_CODE;
      break;
    }
  }
  {
    LastErrorKept kept;
    Sys().FindClose(listing);
  }
  if (!whole) return false;
  // std::string compares its characters as unsigned bytes.
  std::sort(listed.names.begin(), listed.names.end());
  *found = std::move(listed);
  return true;
}

}  // namespace qg
