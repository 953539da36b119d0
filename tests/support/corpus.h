// The folder of real editor files other people published (config.xml,
// session.xml), which the tests about real files read where it is. It is
// named by QG_CORPUS, by default ../shared/corpus beside the source folder.
// Where it is not there, those tests skip with SkipReason(); where it is, a
// file or folder they name that is missing fails them.
#pragma once

#include <filesystem>
#include <string>

namespace qg::testing {

// The corpus folder (QG_CORPUS, relative to the source folder when not
// absolute).
std::filesystem::path CorpusDir();
bool HaveCorpus();
// "need ../shared/corpus": the reason every such skip gives, naming the
// folder as QG_CORPUS (or the default) does.
std::string CorpusSkipReason();

}  // namespace qg::testing

// Skips the running test, with the common reason, when the corpus is not there.
#define QG_SKIP_WITHOUT_CORPUS()                                                         \
  do {                                                                                   \
    if (!::qg::testing::HaveCorpus()) GTEST_SKIP() << ::qg::testing::CorpusSkipReason(); \
  } while (0)
