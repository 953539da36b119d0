// The run's record for the user, who never sees the hidden console: what a
// start did to the settings and why a step failed. Events are collected while
// the run goes on and appended to the record once, at the end of the run, one
// line each with the local time at which they happened. A run that noted no
// event writes nothing. Used from the launcher's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qg {

// The record's name, in the editor's folder beside the state file, and the
// most bytes it ever holds.
inline constexpr char kRunLogFile[] = "quillgate.log";
inline constexpr std::size_t kRunLogLimit = 64 * 1024;

// Starts collecting for a run whose record is `path`; anything noted before
// is forgotten.
void StartRunLog(std::string path);
// Something worth a record: a moved bundle, a step that failed, a settings
// file's outcome.
void NoteRunEvent(const std::string& text);
// A line that belongs in the record but alone is not worth one (the editor
// ended as it should).
void NoteRunDetail(const std::string& text);
// The system's text for an error code ("error N" when it has none).
std::string ErrorText(std::uint32_t code);
// Appends the lines noted since StartRunLog to the record when an event is
// among them, and forgets them. Its failure changes nothing else in the run.
void WriteRunLog();

// The record `before` with `lines` appended; while that is over `limit`
// bytes, the oldest half of it goes, in whole lines.
std::string AppendToRunLog(std::string before, const std::string& lines,
                           std::size_t limit = kRunLogLimit);

}  // namespace qg
