// Loading an XML file into a document (LoadXmlDocument, in xml_library.h),
// and the line-end detection it applies to each chunk it reads.
#pragma once

#include <cstddef>

#include "xml/xml_document.h"

namespace qg {

// The line-end style of a chunk of the file: CR LF, LF or CR at the first
// line end found, Undetected when there is none. A chunk with 5 or more zero
// bytes is read as 16-bit little-endian units. A leading LF is skipped and
// the last unit is looked at only as the LF of a CR LF pair, so a pair split
// between two chunks is taken for neither a lone CR nor a lone LF.
LineEndingStyle DetectLineEnding(const void* chunk, std::size_t length);

}  // namespace qg
