#include "launcher/php_versions.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "launcher/bundle_root.h"
#include "system/paths.h"
#include "system/platform.h"

namespace qg {

namespace {

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
