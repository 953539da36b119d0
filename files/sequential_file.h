// Numbered files with buffered sequential access.
//
// A file is opened under a caller-chosen number (or -1 for a number the
// library chooses), read line by line, positioned, cut and written. One
// transfer buffer per file serves alternately as read-ahead and as pending
// output, and the logical position stays exact across the switches.
#pragma once

#include <cstdint>
#include <string>

#include "files/object_table.h"
#include "files/string_format.h"
#include "system/platform.h"

namespace qg {

inline constexpr std::int32_t TransferBufferSize = 4096;

enum FileMode : std::int32_t { WriteMode = 0, ReadMode = 1 };

struct SequentialFile {
  Handle handle;  // 0: the record names no open file
  char* buffer;   // null: the file works unbuffered
  std::int32_t bufferSize;
  std::int32_t count;   // WriteMode: free bytes; ReadMode: unread read-ahead
  std::int32_t filled;  // ReadMode: valid bytes of the last refill
  std::int32_t mode;    // FileMode
  bool Live() const { return handle != 0; }
};

// Creates the file table (16 slots, growing by 16, CloseNumberedFile as its
// close hook); run at program start. Later calls keep the table. False when
// out of memory. Every other operation does nothing before it has run.
bool InitFileLibrary();
// The file table; null before InitFileLibrary.
ObjectTable<SequentialFile>* FileTable();

// Opens (creating when missing) `path` for reading and writing, shared with
// readers only. Returns the platform handle for a fixed number, the dynamic
// number for -1, and 0 on failure.
std::intptr_t OpenNumberedFile(ObjectNumber number, const char* path);
// The same for reading alone, of a file that exists (writers are still kept
// out): for a file on a medium or in a folder that cannot be written.
std::intptr_t OpenNumberedFileForReading(ObjectNumber number, const char* path);
// The next line without its terminator; empty at end of file. `format` is a
// StringFormat (only its low five bits count), optionally with RawRead.
std::string ReadLine(ObjectNumber number, int format);
// Writes `text` converted per `format`; never adds a line end. Returns the
// bytes accepted.
std::int64_t WriteFileText(ObjectNumber number, const char* text, int format);
// Flushes, drops read-ahead and moves to the absolute position high:low.
// Returns the low 32 bits of the new position, 0xFFFFFFFF when the platform
// refuses the move (Windows' INVALID_SET_FILE_POINTER).
std::uint32_t SeekFile(ObjectNumber number, std::uint32_t positionLow, std::uint32_t positionHigh);
// The logical position, -1 for a number that names no open file.
std::int64_t FilePosition(ObjectNumber number);
// Ends the file at the logical position (pending output is written first,
// read-ahead never moves the cut); the platform's success flag, 1 or 0.
int CutFile(ObjectNumber number);
// Flushes and closes; -1 closes every open file.
void CloseNumberedFile(ObjectNumber number);
void CloseAllFiles();

}  // namespace qg
