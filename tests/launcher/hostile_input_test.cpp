// Bad input and unusual bundles: whatever the launcher meets, it ends with
// exit code 0 and every settings file holds either its old bytes or a
// complete new form, never anything in between.
#include <gtest/gtest.h>

#include <functional>

#include "system/platform.h"
#include "tests/launcher/bundle_fixture.h"
#include "tests/support/own_processes.h"
#include "xml/attribute_markup.h"

namespace qg {
namespace {

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// The folders here hold no backslash or '$': only a '"' is escaped for PHP.
std::string PrependLine(const Bundle& bundle) {
  std::string root;
  for (char c : bundle.Root()) root += c == '"' ? std::string("\\\"") : std::string(1, c);
  return "auto_prepend_file = \"" + root + "server/modules/php/PHP-5.6-5.7/header.php\"\r\n";
}

std::string FolderAttribute(const Bundle& bundle) {
  return "foldername=\"" +
         AttributeMarkupFromNarrow((bundle.Root() + "server/domains/mysite.local").c_str()) + "\"";
}

bool NoTemporaryFilesLeft(const Bundle& bundle) {
  for (const auto& entry : fs::recursive_directory_iterator(bundle.Folder()))
    if (entry.path().string().find(".quillgate-new") != std::string::npos) return false;
  return true;
}

enum class Expect { Unchanged, Updated, Either };

struct PhpCase {
  const char* name;
  std::function<std::string()> content;
  Expect expect;
  bool parses = true;  // else the root is not recorded, and the next start tries again
};

TEST(HostileInput, PhpIniOfEveryShape) {
  QG_REQUIRE_OWN_PROCESSES();
  const PhpCase cases[] = {
      {"empty", [] { return std::string(); }, Expect::Updated},
      {"only a byte-order mark", [] { return std::string("\xEF\xBB\xBF"); }, Expect::Updated},
      {"NUL bytes", [] { return std::string("[PHP]\r\nengine\0= On\r\n\0\0x = y\r\n", 30); },
       Expect::Either},
      {"a 1 MB line", [] { return "[PHP]\r\nlong = " + std::string(1 << 20, 'v') + "\r\n"; },
       Expect::Updated},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bundle bundle;
    std::string old = c.content();
    WriteWholeFile(bundle.PhpIni(), old);
    ASSERT_TRUE(bundle.Run());
    std::string now = ReadWholeFile(bundle.PhpIni());
    bool updated = now.find(PrependLine(bundle)) != std::string::npos;
    if (c.expect == Expect::Updated) {
      EXPECT_TRUE(updated);
    } else if (c.expect == Expect::Either) {
      EXPECT_TRUE(updated || now == old);
    }
    EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
    EXPECT_TRUE(NoTemporaryFilesLeft(bundle));
  }
}

TEST(HostileInput, LongLinesSurviveTheRewrite) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  std::string value(1 << 20, 'v');
  WriteWholeFile(bundle.PhpIni(), "[PHP]\nlong = " + value + "\n");
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.PhpIni()),
            "[PHP]\r\nlong = " + value + "\r\n" + PrependLine(bundle));
}

TEST(HostileInput, A200MegabytePhpIniIsRewrittenWhole) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  std::string big = "[PHP]\r\n" + Repeat("; " + std::string(98, 'c') + "\r\n", 2000000);
  WriteWholeFile(bundle.PhpIni(), big);
  ASSERT_TRUE(bundle.Run());
  std::string now = ReadWholeFile(bundle.PhpIni());
  EXPECT_EQ(now.size(), big.size() + PrependLine(bundle).size());
  EXPECT_EQ(now.compare(0, big.size(), big), 0);
}

struct ConfigCase {
  const char* name;
  std::function<std::string()> content;
  Expect expect;
  bool parses = true;  // else the root is not recorded, and the next start tries again
};

TEST(HostileInput, ConfigXmlOfEveryShape) {
  QG_REQUIRE_OWN_PROCESSES();
  const std::string head = "<NotepadPlus><FileBrowser><root foldername=\"x\">";
  const std::string tail = "</root></FileBrowser></NotepadPlus>";
  const ConfigCase cases[] = {
      {"empty", [] { return std::string(); }, Expect::Unchanged},
      {"only a byte-order mark", [] { return std::string("\xEF\xBB\xBF"); }, Expect::Unchanged,
       false},
      {"NUL bytes",
       [] {
         return std::string("<NotepadPlus>\0<FileBrowser><root/></FileBrowser></NotepadPlus>", 60);
       },
       Expect::Unchanged, false},
      {"a 1 MB line",
       [] {
         return "<NotepadPlus><FileBrowser><root foldername=\"x\" other=\"" +
                std::string(1 << 20, 'o') + "\"/></FileBrowser></NotepadPlus>";
       },
       Expect::Updated},
      {"nested a million levels",
       [&] { return head + Repeat("<a>", 1000000) + Repeat("</a>", 1000000) + tail; },
       Expect::Updated},
      {"billion laughs",
       [] {
         std::string doc =
             "<?xml version=\"1.0\"?>\n<!DOCTYPE NotepadPlus [\n<!ENTITY l0 \"ha\">\n";
         for (int i = 1; i <= 12; ++i)
           doc += "<!ENTITY l" + std::to_string(i) + " \"" +
                  Repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">\n";
         return doc +
                "]>\n<NotepadPlus><FileBrowser><root "
                "foldername=\"&l12;\"/></FileBrowser></NotepadPlus>";
       },
       Expect::Unchanged, false},
      {"UTF-16",
       [] {
         std::string narrow =
             "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
             "<NotepadPlus><FileBrowser><root foldername=\"x\"/></FileBrowser></NotepadPlus>";
         std::string wide = "\xFF\xFE";
         for (char c : narrow) wide += std::string{c, '\0'};
         return wide;
       },
       Expect::Either},
      {"another root element",
       [] {
         return std::string(
             "<Settings><FileBrowser><root foldername=\"x\"/></FileBrowser></Settings>");
       },
       Expect::Unchanged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bundle bundle;
    std::string old = c.content();
    WriteWholeFile(bundle.Config(), old);
    ASSERT_TRUE(bundle.Run());
    std::string now = ReadWholeFile(bundle.Config());
    bool updated = now.find(FolderAttribute(bundle)) != std::string::npos;
    if (c.expect == Expect::Unchanged) {
      EXPECT_EQ(now, old);
    } else if (c.expect == Expect::Updated) {
      EXPECT_TRUE(updated);
    } else {
      EXPECT_TRUE(updated || now == old);
    }
    EXPECT_NE(ReadWholeFile(bundle.PhpIni()).find(PrependLine(bundle)), std::string::npos);
    bool recorded = c.expect == Expect::Either ? updated : c.parses;
    EXPECT_EQ(ReadWholeFile(bundle.State()), recorded ? bundle.Root() : "");
    EXPECT_TRUE(NoTemporaryFilesLeft(bundle));
  }
}

TEST(HostileInput, ReadOnlyAndLockedSettingsAreLeftAlone) {
  QG_REQUIRE_OWN_PROCESSES();
  {
    SCOPED_TRACE("read-only php.ini");
    Bundle bundle;
    fs::permissions(bundle.PhpIni(), fs::perms::owner_read | fs::perms::group_read);
    ASSERT_TRUE(bundle.Run());
    EXPECT_EQ(ReadWholeFile(bundle.PhpIni()), kPhpIni);
    EXPECT_EQ(ReadWholeFile(bundle.State()), "");  // not recorded: the next start tries again
    EXPECT_NE(ReadWholeFile(bundle.Config()), kConfigXml);  // the rest went on
  }
  {
    SCOPED_TRACE("php.ini held open by another program");
    Bundle bundle;
    Handle held =
        Sys().CreateFileA(bundle.PhpIni().c_str(), GENERIC_READ_ACCESS, 0, Creation::OpenExisting);
    ASSERT_NE(held, 0u);
    ASSERT_TRUE(bundle.Run());
    Sys().CloseHandle(held);
    EXPECT_EQ(ReadWholeFile(bundle.PhpIni()), kPhpIni);
    EXPECT_EQ(ReadWholeFile(bundle.State()), "");
  }
  {
    SCOPED_TRACE("state file held open by another program");
    Bundle bundle;
    WriteWholeFile(bundle.State(), "/old/root/");
    Handle held =
        Sys().CreateFileA(bundle.State().c_str(), GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, 0,
                          Creation::OpenExisting);
    ASSERT_NE(held, 0u);
    ASSERT_TRUE(bundle.Run());
    Sys().CloseHandle(held);
    // Nothing could be decided, so nothing was touched; the editor still ran.
    EXPECT_EQ(ReadWholeFile(bundle.State()), "/old/root/");
    EXPECT_EQ(ReadWholeFile(bundle.PhpIni()), kPhpIni);
    EXPECT_EQ(ReadWholeFile(bundle.Config()), kConfigXml);
    EXPECT_FALSE(ReadWholeFile(bundle.Record()).empty());
  }
}

TEST(HostileInput, FilesOfFourGigabytesAreRefusedNotTruncated) {
  QG_REQUIRE_OWN_PROCESSES();
  Bundle bundle;
  const std::uintmax_t size = (std::uintmax_t{1} << 32) + 16;
  // Sparse files: their size is real, their blocks are not.
  fs::resize_file(bundle.PhpIni(), size);
  fs::resize_file(bundle.Config(), size);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(fs::file_size(bundle.PhpIni()), size);
  EXPECT_EQ(fs::file_size(bundle.Config()), size);
  EXPECT_TRUE(NoTemporaryFilesLeft(bundle));
}

TEST(HostileInput, UnusualBundleFolders) {
  QG_REQUIRE_OWN_PROCESSES();
  const char* names[] = {"quote \" and ' marks", "caf\xC3\xA9 na\xEF\xBF\xBD", "semi;colon=equals",
                         "deep"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    Bundle bundle(name);
    ASSERT_TRUE(bundle.Run());
    EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
    EXPECT_NE(ReadWholeFile(bundle.PhpIni()).find(PrependLine(bundle)), std::string::npos);
    EXPECT_NE(ReadWholeFile(bundle.Config()).find(FolderAttribute(bundle)), std::string::npos);
  }
}

TEST(HostileInput, ACurrentDirectoryLongerThan259Characters) {
  QG_REQUIRE_OWN_PROCESSES();
  std::string deep = "long";
  while (deep.size() < 300) deep += "/" + std::string(60, 'd');
  Bundle bundle(deep);
  ASSERT_GT(bundle.Root().size(), 259u);
  ASSERT_TRUE(bundle.Run());
  EXPECT_EQ(ReadWholeFile(bundle.State()), bundle.Root());
  EXPECT_NE(ReadWholeFile(bundle.PhpIni()).find(PrependLine(bundle)), std::string::npos);
}

// Two launchers started at the same moment in one bundle: whichever wins,
// each file ends up either as it was or fully updated.
TEST(HostileInput, TwoLaunchersAtOnce) {
  QG_REQUIRE_OWN_PROCESSES();
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    Bundle bundle;
    pid_t a = bundle.Start(), b = bundle.Start();
    int sa = WaitFor(a), sb = WaitFor(b);
    EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
    EXPECT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
    std::string php = ReadWholeFile(bundle.PhpIni()), config = ReadWholeFile(bundle.Config());
    std::string state = ReadWholeFile(bundle.State());
    EXPECT_TRUE(php == kPhpIni || php.find(PrependLine(bundle)) != std::string::npos) << php;
    EXPECT_TRUE(config == kConfigXml || config.find(FolderAttribute(bundle)) != std::string::npos);
    EXPECT_TRUE(state.empty() || state == bundle.Root()) << state;
    // The root is only recorded after both settings were handled.
    if (state == bundle.Root()) {
      EXPECT_NE(php.find(PrependLine(bundle)), std::string::npos);
      EXPECT_NE(config.find(FolderAttribute(bundle)), std::string::npos);
    }
    EXPECT_TRUE(NoTemporaryFilesLeft(bundle));
  }
}

}  // namespace
}  // namespace qg
