// The folder separator of this build's paths. Every directory value the
// launcher composes ends with it.
#pragma once

namespace qg {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kSep = "\\";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kSep = "/";
#endif

}  // namespace qg
