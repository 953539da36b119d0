// Names for the cases of value-parameterised tests, made from the texts the
// cases hold, so that every build lists the same readable names.
#pragma once

#include <string>

namespace qg::testing {

// `text` as a test name: letters and digits kept, each byte beyond ASCII
// as x and two hex digits, every other run of bytes as one underscore (none
// at either end). "none" for no text, "empty" for an empty one, "marks" for
// one of nothing but other characters.
std::string NameFromText(const char* text);

}  // namespace qg::testing
