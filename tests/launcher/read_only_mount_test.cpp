// The launcher program run for real on a moved bundle that lies on a
// read-only file system: a tmpfs mounted over the bundle's folder and
// remounted read-only, in a mount namespace of the test's own (unshare), so
// that nothing of it is seen outside. The editor starts, no file changes,
// and the message on standard error names the settings files with a reason.
#include <gtest/gtest.h>

#include <map>

#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"

namespace qg {
namespace {

// Run inside the namespace: the bundle is copied aside, a tmpfs mounted over
// its folder and the bundle copied back onto it, the tmpfs made read-only,
// and the launcher (the remaining arguments) run in the bundle; then what
// the bundle holds is copied out for the test to look at.
const char kInNamespace[] = R"(set -e
bundle=$1; out=$2; shift 2
mkdir "$out/stage" "$out/after"
cp -a "$bundle/." "$out/stage/"
mount -t tmpfs -o size=16m quillgate-read-only "$bundle"
cp -a "$out/stage/." "$bundle/"
mount -o remount,ro "$bundle"
touch "$out/mounted"
cd "$bundle"
set +e
"$@" 2> "$out/stderr.txt"
echo $? > "$out/status"
cp -a "$bundle/." "$out/after/"
)";

// Every file below `folder`, by its path relative to it, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).string()] = ReadWholeFile(entry.path().string());
  return files;
}

TEST(ReadOnlyMount, AMovedBundleOnAReadOnlyFileSystemSaysWhyItIsNotUpdated) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  WriteWholeFile(bundle.State(), "/the/old/place/");
  const auto before = FilesBelow(bundle.Folder());
  testing::TempDir work;
  const std::string out = fs::canonical(work.Root()).string();
  const std::string script = work.Write("in-namespace.sh", kInNamespace);

  // As an unprivileged user maps itself to root in a user namespace of its
  // own; as root a mount namespace alone does.
  std::string refusal;
  for (const char* flags : {"-rm", "-m"}) {
    fs::remove_all(out + "/stage");
    fs::remove_all(out + "/after");
    std::vector<std::string> command{"/bin/sh",
                                     "-c",
                                     std::string("exec unshare ") + flags +
                                         " /bin/sh \"$0\" \"$@\" 2> '" + out + "/unshare.txt'",
                                     script,
                                     bundle.Folder(),
                                     out};
    for (const std::string& word : testing::BuiltProgramCommand(QG_LAUNCHER_EXE))
      command.push_back(word);
    ASSERT_NE(WaitFor(Spawn(command, out)), -1) << "the launcher did not end";
    if (fs::exists(out + "/mounted")) break;
    refusal += std::string("unshare ") + flags + ": " + ReadWholeFile(out + "/unshare.txt");
  }
  if (!fs::exists(out + "/mounted"))
    GTEST_SKIP() << "a read-only tmpfs cannot be mounted here: " << refusal;

  EXPECT_EQ(ReadWholeFile(out + "/status"), "0\n");
  // The editor ran once, from its full path, in the bundle root.
  EXPECT_EQ(ReadWholeFile(bundle.Record()), bundle.Editor() + "|" + bundle.Folder() + "\n");
  // Nothing on the read-only file system changed, and nothing was added.
  EXPECT_EQ(FilesBelow(out + "/after"), before);

  // One line, captioned as the box is, naming each file with a reason.
  const std::string said = ReadWholeFile(out + "/stderr.txt");
  const std::string caption = "Quillgate by Dalvenor: ";
  std::size_t at = said.find(caption);
  ASSERT_NE(at, std::string::npos) << said;
  const std::string line = said.substr(at, said.find('\n', at) - at);
  for (const std::string file :
       {"server/modules/php/PHP-5.6-5.7/php.ini: ", "server/notepad/config.xml: "}) {
    std::size_t named = line.find(file);
    ASSERT_NE(named, std::string::npos) << line;
    std::size_t reason = named + file.size();
    std::size_t end = line.find('.', reason);
    EXPECT_TRUE(end != std::string::npos && end >= reason + 3 && line[reason] != ' ')
        << "no reason after " << file << ": " << line;
  }
}

}  // namespace
}  // namespace qg
