// Wide paths on POSIX: a path is bytes, its wide form their UTF-8 decoding.
//
// A byte that is not part of well-formed, shortest-form UTF-8 (a Latin-1
// name made by an older system, say) becomes the lone surrogate U+DC00 +
// byte, which no well-formed text holds, and turns back into that byte: so
// the wide form of any path names the same file. The "ANSI code page" for
// paths is UTF-8 here, and it holds every path. A path is its own short and
// long form.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "system/posix/posix_platform.h"

namespace qg {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

void AppendCodePoint(char32_t code, std::u16string* out) {
  if (code < 0x10000) {
    out->push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  }
}

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The text's units through the terminator when `length` is -1.
bool CountUnits(const char16_t* units, int length, std::size_t* count) {
  if (!units || length == 0 || length < -1) return false;
  *count = length == -1 ? std::char_traits<char16_t>::length(units) + 1
                        : static_cast<std::size_t>(length);
  return true;
}

// Hands out `wide` by the rules of GetCurrentDirectoryW and its kind.
std::uint32_t HandOut(const std::u16string& wide, char16_t* buffer, std::uint32_t size) {
  if (wide.size() >= UINT32_MAX) return FailWithCode(ERROR_FILENAME_EXCED_RANGE_CODE);
  if (!buffer || wide.size() + 1 > size) return static_cast<std::uint32_t>(wide.size() + 1);
  std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
  return static_cast<std::uint32_t>(wide.size());
}

// The path's own form when it exists, as GetShortPathNameW and
// GetLongPathNameW give it here.
std::uint32_t ExistingPath(const char16_t* path, char16_t* buffer, std::uint32_t size) {
  std::string bytes;
  if (!path || !PathBytesFromWide(path, std::char_traits<char16_t>::length(path), &bytes))
    return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  struct stat info {};
  if (bytes.empty() || ::stat(bytes.c_str(), &info) != 0)
    return FailWithErrno(bytes.empty() ? ENOENT : errno);
  return HandOut(path, buffer, size);
}

}  // namespace

std::u16string WideFromPathBytes(const std::string& bytes) {
  std::u16string wide;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t length = bytes.size();
  for (std::size_t i = 0; i < length;) {
    unsigned char lead = in[i];
    std::size_t extra = lead < 0x80                    ? 0
                        : lead >= 0xC2 && lead <= 0xDF ? 1
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                       : 4;
    bool valid = extra < 4 && extra <= length - i - 1;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      valid = (in[i + k] & 0xC0) == 0x80;
      code = (code << 6) | (in[i + k] & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (valid && (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
      valid = false;
    if (!valid) {
      wide.push_back(static_cast<char16_t>(kEscapeBase + lead));
      ++i;
      continue;
    }
    AppendCodePoint(code, &wide);
    i += extra + 1;
  }
  return wide;
}

bool PathBytesFromWide(const char16_t* units, std::size_t length, std::string* bytes) {
  bytes->clear();
  for (std::size_t i = 0; i < length; ++i) {
    char32_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00), bytes);
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      bytes->push_back(static_cast<char>(unit - kEscapeBase));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;
    } else {
      AppendUtf8(unit, bytes);
    }
  }
  // Escaped bytes that together are well-formed UTF-8 would come back as a
  // character, not as the escapes: such a text is the wide form of nothing.
  return WideFromPathBytes(*bytes) == std::u16string_view(units, length);
}

std::uint32_t PosixPlatform::GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) {
  char* cwd = ::getcwd(nullptr, 0);
  if (!cwd) return FailWithErrno(errno);
  std::u16string wide = WideFromPathBytes(cwd);
  std::free(cwd);
  return HandOut(wide, buffer, size);
}

std::uint32_t PosixPlatform::GetACP() { return CP_UTF8_CODE; }

int PosixPlatform::WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                                            int capacity) {
  std::size_t count = 0;
  if (!CountUnits(units, length, &count) || capacity < 0)
    return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  std::string bytes;
  if (!PathBytesFromWide(units, count, &bytes))
    return FailWithCode(ERROR_NO_UNICODE_TRANSLATION_CODE);
  if (bytes.size() > INT_MAX) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  if (capacity == 0) return static_cast<int>(bytes.size());
  if (!out || static_cast<std::size_t>(capacity) < bytes.size())
    return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  std::memcpy(out, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}

std::uint32_t PosixPlatform::GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                               std::uint32_t size) {
  return ExistingPath(path, buffer, size);
}

std::uint32_t PosixPlatform::GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                              std::uint32_t size) {
  return ExistingPath(path, buffer, size);
}

bool PosixPlatform::QueryFullProcessImageNameW(Handle process, char16_t* buffer,
                                               std::uint32_t* size) {
  if (!buffer || !size || *size == 0) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  std::string path(PATH_MAX + 1, '\0');
  std::uint32_t length = static_cast<std::uint32_t>(path.size());
  if (!QueryFullProcessImageNameA(process, path.data(), &length)) return false;
  path.resize(length);
  std::u16string wide = WideFromPathBytes(path);
  if (wide.size() >= *size) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
  *size = static_cast<std::uint32_t>(wide.size());
  return true;
}

}  // namespace qg
