// How text is encoded when files and XML documents are read and written.
#pragma once

namespace qg {

enum StringFormat : int {
  Utf8 = 2,      // UTF-8, taken to and from 8-bit text as code points 0-255
  Ascii = 24,    // bytes as they are
  Unicode = 25,  // UTF-16 little-endian, through the ANSI code page
};

// ReadLine flag: CR and LF are kept; a line ends only at a 0 unit or the end.
inline constexpr int RawRead = 65536;

}  // namespace qg
