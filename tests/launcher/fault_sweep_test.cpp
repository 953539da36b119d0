// The whole launcher run in this process, with the N-th platform call
// failing (or a write coming out short, or the N-th allocation failing), for
// every N of a relocation run. Whatever fails, each file holds exactly its
// old bytes or exactly its new ones, the run ends with exit code 0, and one
// clean run afterwards leaves exactly what a single clean run leaves.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "launcher/launcher.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/fixtures.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

const char kOldRoot[] = "/the/old/place/";
const char kPhpIni[] =
    "[PHP]\r\nengine = On\r\nauto_prepend_file = \"/the/old/place/header.php\"\r\n"
    "include_path = \".:/the/old/place/PEAR\"\r\n[Date]\r\ndate.timezone = UTC\r\n";

// The project's own configuration and session, whose paths follow the move.
std::string ConfigXml() { return testing::BundleFixture("config.xml", kOldRoot); }
std::string SessionXml() { return testing::BundleFixture("session.xml", kOldRoot); }

// The same configuration with a long comment, so that it is read in several
// chunks.
std::string LargeConfigXml() {
  std::string large = ConfigXml();
  std::string comment = "<!--";
  for (int i = 0; i < 800; ++i) comment += "\r\n  an old note about the editor's settings, kept";
  comment += "\r\n-->\r\n";
  large.insert(large.rfind("</NotepadPlus>"), comment);
  return large;
}

// What the bundle holds before the run.
struct Scenario {
  const char* name;
  bool hasState;   // false: the first run in this bundle
  bool hasPhpIni;  // false: php.ini is created
  bool largeConfig;
};

struct Outcome {
  std::string php, config, state, session;
  bool operator==(const Outcome&) const = default;
};

class FaultSweep : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    config_ = GetParam().largeConfig ? LargeConfigXml() : ConfigXml();
    session_ = SessionXml();
  }

  // Lays the bundle out afresh and runs the launcher in it with the fault;
  // with `afterwards`, runs it once more without one and gives that outcome.
  Outcome RunWith(std::int64_t failAt, FaultyPlatform::Fault fault, unsigned kinds,
                  std::int64_t* calls = nullptr, bool* fired = nullptr,
                  Outcome* afterwards = nullptr) {
    testing::TempDir dir;
    root_ = fs::canonical(dir.Root()).string() + "/";
    fs::create_directories(root_ + "server/notepad");
    fs::create_directories(root_ + "server/modules/php/PHP-5.6-5.7");
    if (GetParam().hasPhpIni)
      WriteWholeFile(root_ + "server/modules/php/PHP-5.6-5.7/php.ini", kPhpIni);
    WriteWholeFile(root_ + "server/notepad/config.xml", config_);
    if (GetParam().hasState) WriteWholeFile(root_ + "server/notepad/state.txt", kOldRoot);
    WriteWholeFile(root_ + "server/notepad/session.xml", session_);

    Outcome outcome = RunInBundle(failAt, fault, kinds, calls, fired);
    firstRecord_ = lastRecord_;
    if (afterwards) *afterwards = RunInBundle(0, fault, kinds, nullptr, nullptr);
    return outcome;
  }

  Outcome RunInBundle(std::int64_t failAt, FaultyPlatform::Fault fault, unsigned kinds,
                      std::int64_t* calls, bool* fired) {
    fs::path before = fs::current_path();
    fs::current_path(root_);
    int exitCode = -1;
    {
      testing::SimulatedPlatform sim;
      FaultyPlatform faulty(sim);
      faulty.FailAt(failAt, fault, kinds);
      testing::PlatformScope scope(faulty);
      exitCode = LauncherMain();
      if (calls) *calls = faulty.Calls();
      if (fired) *fired = faulty.Fired();
    }
    fs::current_path(before);
    EXPECT_EQ(exitCode, 0);

    for (const auto& entry : fs::recursive_directory_iterator(root_))
      EXPECT_EQ(entry.path().string().find(".quillgate-new"), std::string::npos)
          << "left behind: " << entry.path();
    lastRecord_ = ReadWholeFile(root_ + "server/notepad/quillgate.log");
    return {ReadWholeFile(root_ + "server/modules/php/PHP-5.6-5.7/php.ini"),
            ReadWholeFile(root_ + "server/notepad/config.xml"),
            ReadWholeFile(root_ + "server/notepad/state.txt"),
            ReadWholeFile(root_ + "server/notepad/session.xml")};
  }

  // The run without faults, with the root replaced by a marker so outcomes
  // of runs in different folders compare.
  std::string Neutral(std::string text) const {
    for (std::size_t at; (at = text.find(root_)) != std::string::npos;)
      text.replace(at, root_.size(), "<ROOT>/");
    return text;
  }
  Outcome Neutral(const Outcome& o) const {
    return {Neutral(o.php), Neutral(o.config), Neutral(o.state), Neutral(o.session)};
  }

  void Sweep(FaultyPlatform::Fault fault, unsigned kinds, const char* label) {
    // The libraries' tables, kept for the life of the process, are made by
    // its first run alone: the calls are counted on a later run, like the
    // faulted runs.
    RunWith(0, fault, kinds);
    std::int64_t total = 0;
    Outcome clean = Neutral(RunWith(0, fault, kinds, &total));
    // A file that was not there reads as empty.
    const Outcome old{GetParam().hasPhpIni ? kPhpIni : "", config_,
                      GetParam().hasState ? kOldRoot : "", session_};
    ASSERT_NE(clean.php, old.php);
    ASSERT_NE(clean.config, old.config);
    ASSERT_EQ(clean.state, "<ROOT>/");
    // Without a recorded root the session has nothing to follow.
    if (GetParam().hasState) {
      ASSERT_NE(clean.session, old.session);
    }
    ASSERT_GT(total, 2);

    int runs = 0, fired = 0;
    for (std::int64_t n = 1; n <= total; ++n) {
      bool delivered = false;
      Outcome repaired;
      Outcome got = Neutral(RunWith(n, fault, kinds, nullptr, &delivered, &repaired));
      faultedRecord_ = firstRecord_;
      ++runs;
      fired += delivered;
      SCOPED_TRACE(std::string(label) + " at call " + std::to_string(n));
      EXPECT_TRUE(got.php == old.php || got.php == clean.php) << got.php;
      EXPECT_TRUE(got.config == old.config || got.config == clean.config);
      EXPECT_TRUE(got.state == old.state || got.state == clean.state) << got.state;
      EXPECT_TRUE(got.session == old.session || got.session == clean.session) << got.session;
      // The root is recorded only with both settings done, so whatever the
      // fault left undone, the next clean start finishes it.
      if (got.state == clean.state) {
        EXPECT_EQ(got.php, clean.php);
        EXPECT_EQ(got.config, clean.config);
        EXPECT_EQ(got.session, clean.session);
      }
      EXPECT_EQ(Neutral(repaired), clean);
      if (kinds == FaultyPlatform::HeapCalls) ReadMemoryFailure(faultedRecord_);
      if (::testing::Test::HasFailure()) break;
    }
    // The folder's name differs in length from run to run, and with it a few
    // allocations; nearly every planned fault must still land.
    EXPECT_GE(fired * 100, runs * 95);
    std::cout << "[ sweep ] " << GetParam().name << ", " << label << ": " << runs
              << " runs, each with one fault\n";
    if (kinds == FaultyPlatform::HeapCalls) {
      // Memory running out while config.xml is read, and while its new
      // folder is set, are both met on the way, and each says so.
      EXPECT_GT(memoryWhileReading_, 0);
      EXPECT_GT(memoryWhileSetting_, 0);
    }
  }

  // With only allocations failing, a config.xml that failed failed for want
  // of memory, and its line in the record says that, never that the file
  // could not be read or is malformed.
  void ReadMemoryFailure(const std::string& record) {
    std::size_t at = record.find("config.xml: failed");
    if (at == std::string::npos) return;
    std::string line = record.substr(at, record.find('\n', at) - at);
    if (line.find("config.xml: failed: there was not enough memory to read it") == 0) {
      ++memoryWhileReading_;
    } else if (line.find("config.xml: failed: Not enough memory") == 0) {
      ++memoryWhileSetting_;
    } else {
      ADD_FAILURE() << "a failed allocation recorded as: " << line;
    }
  }

  std::string config_, session_;
  std::string root_;
  std::string lastRecord_, firstRecord_, faultedRecord_;
  int memoryWhileReading_ = 0, memoryWhileSetting_ = 0;
};

TEST_P(FaultSweep, EveryFailingFileCall) {
  Sweep(FaultyPlatform::Fault::Fail, FaultyPlatform::FileCalls, "failing file calls");
}

TEST_P(FaultSweep, EveryShortWrite) {
  Sweep(FaultyPlatform::Fault::ShortWrite, FaultyPlatform::WriteCalls, "short writes");
}

TEST_P(FaultSweep, EveryFailingOtherCall) {
  Sweep(FaultyPlatform::Fault::Fail, FaultyPlatform::OtherCalls,
        "failing process and console calls");
}

TEST_P(FaultSweep, EveryFailingAllocation) {
  Sweep(FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls, "failing allocations");
}

INSTANTIATE_TEST_SUITE_P(Bundles, FaultSweep,
                         ::testing::Values(Scenario{"moved", true, true, false},
                                           Scenario{
                                               "first run, no php.ini, a config of several chunks",
                                               false, false, true}),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return info.param.hasState ? std::string("Moved")
                                                      : std::string("FirstRun");
                         });

}  // namespace
}  // namespace qg
