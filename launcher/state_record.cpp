#include "launcher/state_record.h"

#include <string_view>

#include "files/file_probes.h"
#include "files/sequential_file.h"
#include "system/platform.h"

namespace qg {

bool ReadStateLines(int number, const char* path, StateLines* lines, std::uint32_t* error) {
  // ReadLine has already taken the line's end off.
  Sys().SetLastError(NO_ERROR_CODE);
  lines->first = ReadLine(number, Ascii);
  *error = Sys().GetLastError();
  // A file that holds something but gave no line at all could not be read:
  // taken for a first start, it would leave the editor's paths where they
  // were and record the new root all the same.
  if (lines->first.empty() && FilePosition(number) == 0 && !IsEmptyFile(path)) return false;
  std::string_view mark(kUtf8Mark);
  lines->second.clear();
  if (std::string_view(lines->first).substr(0, mark.size()) == mark)
    lines->second = ReadLine(number, Ascii);
  return true;
}

BundleRoot RecordedRootOf(const StateLines& lines) {
  std::string_view first(lines.first);
  std::string_view mark(kUtf8Mark);
  if (first.substr(0, mark.size()) != mark) return BundleRoot::FromAnsi(lines.first);
  return BundleRoot::FromWide(PathKey::FromText(first.substr(mark.size())).Wide(), lines.second);
}

std::string StateRecordOf(const BundleRoot& root) {
  if (!root.PhpTakesShortForm()) return root.Ansi();
  return kUtf8Mark + root.Key().Text() + kStateLineBreak + root.ShortForm();
}

bool RecordsRoot(const StateLines& lines, const BundleRoot& present) {
  if (!present.PhpTakesShortForm()) return lines.first == present.Ansi();
  return !present.ShortForm().empty() &&
         lines.first + kStateLineBreak + lines.second == StateRecordOf(present);
}

}  // namespace qg
