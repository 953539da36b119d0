#include "tests/support/corpus.h"

#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace qg::testing {

namespace fs = std::filesystem;

namespace {
std::string CorpusName() {
  const char* named = std::getenv("QG_CORPUS");
  return named && *named ? named : "../shared/corpus";
}
}  // namespace

fs::path CorpusDir() {
  fs::path dir = CorpusName();
  return dir.is_absolute() ? dir : SourceDir() / dir;
}

bool HaveCorpus() { return fs::is_directory(CorpusDir()); }

std::string CorpusSkipReason() { return "need " + CorpusName(); }

}  // namespace qg::testing
