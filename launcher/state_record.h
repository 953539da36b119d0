// state.txt's record of the bundle root: reading the recorded root and
// making the record of the present one.
//
// A root the code page holds is recorded as exactly its bytes, with the
// trailing separator and nothing after it, as always. One whose short form
// PHP is given (the code page cannot hold its name, or the name holds
// php.ini's list separator) is recorded as a UTF-8 byte-order mark, the long
// root in UTF-8 (its PathKey text), CR LF, and that short form, so that the
// places php.ini names by it follow the next move.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/bundle_root.h"

namespace qg {

inline constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
inline constexpr char kStateLineBreak[] = "\r\n";

// What state.txt holds, as read.
struct StateLines {
  std::string first;
  std::string second;  // only for a root recorded in the long form
};

// Reads the record from numbered file `number`, open on `path`. False, with
// `error` the reason, when the file holds something but no line could be
// read.
bool ReadStateLines(int number, const char* path, StateLines* lines, std::uint32_t* error);

// The root the lines record, in the forms it was recorded in.
BundleRoot RecordedRootOf(const StateLines& lines);

// What state.txt holds for `root`.
std::string StateRecordOf(const BundleRoot& root);

// Whether the lines record `present`: a root recorded by its bytes by the
// first line alone, byte for byte; one recorded in the long form by both
// lines, so that a new short form under the same long root counts as a move
// (without a short form nothing was recorded).
bool RecordsRoot(const StateLines& lines, const BundleRoot& present);

}  // namespace qg
