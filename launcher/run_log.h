// The run's record for the user, who never sees the hidden console: what a
// start did to the settings and why a step failed. Events are collected while
// the run goes on and appended to the record once, at the end of the run, one
// line each with the local time at which they happened. A run that noted no
// event writes nothing. Used from the launcher's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qg {

// The record's name, in the editor's folder beside the state file, and the
// most bytes it ever holds.
inline constexpr char kRunLogFile[] = "quillgate.log";
inline constexpr std::size_t kRunLogLimit = 64 * 1024;

// Starts collecting for a run whose record is `path`; anything noted before
// is forgotten.
void StartRunLog(std::string path);
// One line of the record made of `pieces`; `event` marks it as worth a
// record on its own.
void NoteRunLine(std::initializer_list<std::string_view> pieces, bool event);
// Something worth a record (a moved bundle, a settings file's outcome, a
// step that failed): the texts one after the other make its line, as in
// NoteRunEvent("tidy-up: closed ", NumberText(count), " command windows").
template <class... Texts>
void NoteRunEvent(const Texts&... texts) {
  NoteRunLine({std::string_view(texts)...}, true);
}
// A line that belongs in the record but alone is not worth one (the editor
// ended as it should).
template <class... Texts>
void NoteRunDetail(const Texts&... texts) {
  NoteRunLine({std::string_view(texts)...}, false);
}
// A step that failed: "`what`: " and the system's text for `error` (just
// `what` for error 0), as an event.
void NoteRunFailure(const char* what, std::uint32_t error);
// The system's text for an error code ("error N" when it has none).
std::string ErrorText(std::uint32_t code);
// A number in decimal, as a piece of a line.
std::string NumberText(std::uint32_t value);
// Appends the lines noted since StartRunLog to the record when an event is
// among them, and forgets them. Its failure changes nothing else in the run.
void WriteRunLog();

// The record `before` with `lines` appended; while that is over `limit`
// bytes, the oldest half of it goes, in whole lines.
std::string AppendToRunLog(std::string before, const std::string& lines,
                           std::size_t limit = kRunLogLimit);

}  // namespace qg
