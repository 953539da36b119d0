// Looking at a file without taking it: its emptiness, the end of its text.
// Both open the file for reading while others may go on reading and
// writing it, and close it before they return.
#pragma once

#include <cstddef>
#include <string>

namespace qg {

// Whether the file at `path` exists and holds no byte.
bool IsEmptyFile(const char* path);

// The last `limit` bytes of the file, in whole lines (a line cut by the
// limit is dropped); the whole file when it is no longer; nothing when it
// cannot be read.
std::string ReadFileTail(const char* path, std::size_t limit);

}  // namespace qg
