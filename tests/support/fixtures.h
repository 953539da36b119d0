// The project's own bundle files (tests/fixtures/bundle/, described in its
// README.md), with the root the bundle had before its move filled in.
#pragma once

#include <string>

namespace qg::testing {

// tests/fixtures/bundle/`name` with every `{ROOT}` replaced by `oldRoot` (a
// root with its trailing separator) and the `\` of the rest of that value
// turned into this system's separator. Fails the test (and gives "") when
// the file cannot be read.
std::string BundleFixture(const std::string& name, const std::string& oldRoot);

// The filling itself, for a fixture's text.
std::string FillRoot(const std::string& text, const std::string& oldRoot);

}  // namespace qg::testing
