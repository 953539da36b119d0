#include "launcher/path_key.h"

#include "files/utf8.h"
#include "system/platform.h"

namespace qg {

PathKey::PathKey(std::u16string_view path) : text_(GeneralizedUtf8FromWide(path)) {}

PathKey PathKey::FromText(std::string_view text) {
  PathKey key;
  key.text_ = text;
  return key;
}

std::u16string PathKey::Wide() const { return WideFromGeneralizedUtf8(text_); }

bool PathKey::Same(const PathKey& a, const PathKey& b) {
  return SameText<char>(a.text_, b.text_, Sys().FileNamesIgnoreCase());
}

bool PathKey::Inside(const PathKey& root, const PathKey& path) {
  if (root.Empty() || path.text_.size() <= root.text_.size()) return false;
  return StartsWithText<char>(path.text_, root.text_, Sys().FileNamesIgnoreCase());
}

}  // namespace qg
