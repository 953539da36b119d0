#include "tests/support/fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "system/paths.h"
#include "tests/support/temp_dir.h"

namespace qg::testing {

std::string FillRoot(const std::string& text, const std::string& oldRoot) {
  static const std::string kPlaceholder = "{ROOT}";
  std::string out;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(kPlaceholder, from)) != std::string::npos;) {
    out.append(text, from, at - from);
    out += oldRoot;
    std::size_t end = text.find('"', at);
    if (end == std::string::npos) end = text.size();
    for (std::size_t i = at + kPlaceholder.size(); i < end; ++i)
      out += text[i] == '\\' ? kPathSeparator : text[i];
    from = end;
  }
  return out.append(text, from, std::string::npos);
}

std::string BundleFixture(const std::string& name, const std::string& oldRoot) {
  std::filesystem::path file = SourceDir() / "tests" / "fixtures" / "bundle" / name;
  std::string text = ReadWholeFile(file.string());
  if (text.empty()) ADD_FAILURE() << "the fixture " << file << " cannot be read";
  return FillRoot(text, oldRoot);
}

}  // namespace qg::testing
