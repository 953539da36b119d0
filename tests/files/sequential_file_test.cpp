#include "files/sequential_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files/utf8.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

using qg::testing::TempDir;
using namespace std::string_literals;

// UTF-16 little-endian bytes of 8-bit text taken as code points 0-255.
std::string Utf16(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    out.push_back(static_cast<char>(c));
    out.push_back('\0');
  }
  return out;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// Sys() is a FaultyPlatform over the native one in every test. The
// parameter says whether files are opened unbuffered: the heap call that
// would give the transfer buffer is made to fail, so every test that runs
// over both modes checks that the fallback gives the same results.
class FileTest : public ::testing::TestWithParam<bool> {
 protected:
  FileTest() : faulty_(NativePlatform()) {}

  void SetUp() override {
    previous_ = SetPlatform(&faulty_);
    ASSERT_TRUE(InitFileLibrary());
    CloseAllFiles();
  }
  void TearDown() override {
    faulty_.FailAt(0);
    CloseAllFiles();
    SetPlatform(previous_ == &NativePlatform() ? nullptr : previous_);
  }

  bool Unbuffered() const { return GetParam(); }

  // Opens like OpenNumberedFile; in the unbuffered runs the transfer buffer's
  // allocation fails, which the test checks.
  std::intptr_t Open(ObjectNumber number, const std::string& path) {
    if (!Unbuffered()) return OpenNumberedFile(number, path.c_str());
    ObjectTable<SequentialFile>* table = FileTable();
    if (number != kDynamicNumber && (number >= table->capacity || !table->slots[number])) {
      // Give the slot its record now, so the buffer is the open's only heap call.
      EXPECT_NE(AcquireObject(table, number), nullptr);
    }
    faulty_.FailAt(number == kDynamicNumber ? 2 : 1, FaultyPlatform::Fault::Fail,
                   FaultyPlatform::HeapCalls);
    std::intptr_t result = OpenNumberedFile(number, path.c_str());
    bool fired = faulty_.Fired();
    faulty_.FailAt(0);
    if (result != 0) {
      EXPECT_TRUE(fired);
      ObjectNumber name = number == kDynamicNumber ? result : number;
      SequentialFile* file = LookupObject(FileTable(), name);
      EXPECT_NE(file, nullptr);
      if (file) {
        EXPECT_EQ(file->buffer, nullptr);
      }
    }
    return result;
  }

  // Opens `bytes` written to a new file under `number`.
  ObjectNumber OpenWith(ObjectNumber number, const std::string& bytes,
                        const std::string& name = "f") {
    std::string path = dir_.Write(name, bytes);
    std::intptr_t result = Open(number, path);
    EXPECT_NE(result, 0);
    return number == kDynamicNumber ? result : number;
  }

  // Counts the file calls from here on (failing none).
  void CountFileCalls() {
    faulty_.FailAt(0, FaultyPlatform::Fault::Fail, FaultyPlatform::FileCalls);
  }

  TempDir dir_;
  FaultyPlatform faulty_;
  Platform* previous_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(BufferedAndUnbuffered, FileTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Unbuffered" : "Buffered";
                         });

// --- opening ---------------------------------------------------------------------

TEST_P(FileTest, AMissingFileIsCreatedEmpty) {
  std::string path = dir_.Path("state.txt");
  ASSERT_FALSE(dir_.Exists("state.txt"));
  std::intptr_t handle = Open(1, path);
  ASSERT_NE(handle, 0);
  EXPECT_EQ(static_cast<Handle>(handle), LookupObject(FileTable(), 1)->handle);
  EXPECT_TRUE(dir_.Exists("state.txt"));
  EXPECT_EQ(ReadLine(1, Ascii), "");
  EXPECT_EQ(FilePosition(1), 0);
  CloseNumberedFile(1);
  EXPECT_EQ(dir_.Read("state.txt"), "");
}

TEST_P(FileTest, AFreshFileIsInReadModeWithAnEmptyBuffer) {
  OpenWith(4, "abc");
  SequentialFile* file = LookupObject(FileTable(), 4);
  ASSERT_NE(file, nullptr);
  EXPECT_NE(file->handle, 0u);
  EXPECT_EQ(file->bufferSize, TransferBufferSize);
  EXPECT_EQ(file->count, 0);
  EXPECT_EQ(file->filled, 0);
  EXPECT_EQ(file->mode, ReadMode);
  EXPECT_EQ(file->buffer == nullptr, Unbuffered());
}

TEST_P(FileTest, AnExistingFileKeepsItsContentAndStartsAtZero) {
  OpenWith(1, "C:\\bundle\\");
  EXPECT_EQ(FilePosition(1), 0);
  EXPECT_EQ(ReadLine(1, Ascii), "C:\\bundle\\");
  EXPECT_EQ(ReadLine(1, Ascii), "");
  EXPECT_EQ(FilePosition(1), 10);
  CloseNumberedFile(1);
  EXPECT_EQ(dir_.Read("f"), "C:\\bundle\\");
}

TEST_P(FileTest, AnOpenThatFailsLeavesTheNumberNamingNothing) {
  EXPECT_EQ(Open(2, dir_.Path("no/such/folder/x")), 0);
  EXPECT_EQ(LookupObject(FileTable(), 2), nullptr);
  EXPECT_EQ(FilePosition(2), -1);
  EXPECT_EQ(OpenNumberedFile(3, nullptr), 0);
  EXPECT_EQ(OpenNumberedFile(3, ""), 0);
  EXPECT_EQ(OpenNumberedFile(-5, dir_.Path("x").c_str()), 0);  // not a valid number
  EXPECT_FALSE(dir_.Exists("x"));
}

TEST_P(FileTest, OtherOpensMayReadTheFileButNotWriteIt) {
  std::string path = dir_.Write("f", "abc");
  ASSERT_NE(Open(1, path), 0);
  EXPECT_EQ(OpenNumberedFile(2, path.c_str()), 0);  // write access is denied
  Handle reader =
      Sys().CreateFileA(path.c_str(), GENERIC_READ_ACCESS,
                        FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  EXPECT_NE(reader, 0u);
  if (reader) Sys().CloseHandle(reader);
}

// Opened for reading alone: an existing file is read as with the read-write
// open, a missing one is not made, and writers are kept out all the same.
TEST_P(FileTest, AReadOnlyOpenReadsAnExistingFileAndKeepsWritersOut) {
  std::string path = dir_.Write("state.txt", "D:\\web\\\r\n");
  ASSERT_NE(OpenNumberedFileForReading(1, path.c_str()), 0);
  EXPECT_EQ(ReadLine(1, Ascii), "D:\\web\\");
  EXPECT_EQ(OpenNumberedFile(2, path.c_str()), 0);  // write access is denied
  WriteFileText(1, "x", Ascii);                     // its own writes reach nothing
  CloseNumberedFile(1);
  EXPECT_EQ(dir_.Read("state.txt"), "D:\\web\\\r\n");
  // A file already open for writing elsewhere is not read beside the writer.
  ASSERT_NE(OpenNumberedFile(3, path.c_str()), 0);
  EXPECT_EQ(OpenNumberedFileForReading(4, path.c_str()), 0);
  CloseNumberedFile(3);
  Sys().SetLastError(NO_ERROR_CODE);
  EXPECT_EQ(OpenNumberedFileForReading(5, dir_.Path("missing.txt").c_str()), 0);
  EXPECT_EQ(Sys().GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
  EXPECT_EQ(LookupObject(FileTable(), 5), nullptr);
  EXPECT_FALSE(dir_.Exists("missing.txt"));
}

TEST_P(FileTest, ReusingANumberWritesThePendingOutputAndClosesTheOldFile) {
  std::string first = dir_.Write("first", "0123456789");
  std::string second = dir_.Write("second", "second line\n");
  ASSERT_NE(Open(3, first), 0);
  EXPECT_EQ(ReadLine(3, Ascii), "0123456789");
  EXPECT_EQ(WriteFileText(3, "pending", Ascii), 7);
  ASSERT_NE(Open(3, second), 0);
  // The old file is closed: nothing denies writing it any more.
  Handle writer =
      Sys().CreateFileA(first.c_str(), GENERIC_WRITE_ACCESS,
                        FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  EXPECT_NE(writer, 0u);
  if (writer) Sys().CloseHandle(writer);
  EXPECT_EQ(dir_.Read("first"), "0123456789pending");
  EXPECT_EQ(FilePosition(3), 0);
  EXPECT_EQ(ReadLine(3, Ascii), "second line");
}

TEST_P(FileTest, ReusingANumberForAFailedOpenStillWritesTheOldOutput) {
  ASSERT_NE(Open(3, dir_.Path("first")), 0);
  EXPECT_EQ(WriteFileText(3, "kept", Ascii), 4);
  EXPECT_EQ(Open(3, dir_.Path("missing/x")), 0);
  EXPECT_EQ(dir_.Read("first"), "kept");
  EXPECT_EQ(LookupObject(FileTable(), 3), nullptr);
  EXPECT_EQ(ReadLine(3, Ascii), "");
}

TEST_P(FileTest, DynamicNumbersNameTheirFileAndAFailedOpenGivesTheSlotBack) {
  ObjectNumber number = OpenWith(kDynamicNumber, "dyn\nline\n");
  ASSERT_NE(number, 0);
  EXPECT_GE(number, FileTable()->capacity);  // never a slot number
  EXPECT_EQ(ReadLine(number, Ascii), "dyn");
  EXPECT_EQ(FilePosition(number), 4);
  auto* before = FileTable()->dynamicObjects;
  EXPECT_EQ(Open(kDynamicNumber, dir_.Path("missing/x")), 0);
  EXPECT_EQ(FileTable()->dynamicObjects, before);  // the record was given back
  CloseNumberedFile(number);
  EXPECT_EQ(FileTable()->dynamicObjects, nullptr);
  EXPECT_EQ(FilePosition(number), -1);
}

// --- unknown numbers ------------------------------------------------------------

TEST_P(FileTest, OperationsOnUnknownNumbersDoNothing) {
  OpenWith(1, "abc\n");
  CloseNumberedFile(1);  // a used slot whose record is cleared
  int local = 0;
  ObjectNumber unknown[] = {
      0, 1, 7, 1000, kDynamicNumber, -5, reinterpret_cast<ObjectNumber>(&local)};
  for (ObjectNumber number : unknown) {
    SCOPED_TRACE(number);
    EXPECT_EQ(ReadLine(number, Ascii), "");
    EXPECT_EQ(WriteFileText(number, "text", Ascii), 0);
    EXPECT_EQ(SeekFile(number, 3, 0), 0u);
    EXPECT_EQ(FilePosition(number), -1);
    EXPECT_EQ(CutFile(number), 0);
    if (number != kDynamicNumber) CloseNumberedFile(number);
  }
  EXPECT_EQ(dir_.Read("f"), "abc\n");
}

// --- line ends -------------------------------------------------------------------

// The euro sign in the ANSI code page: "?" where it has none (ISO-8859-1
// on POSIX), its own byte where it has one (0x80 in Windows-1252).
std::string AnsiOfEuro() {
  const char16_t euro[] = {0x20AC, 0};
  char out[4] = {};
  int n = Sys().WideCharToMultiByte(euro, -1, out, sizeof out);
  return n == 2 ? std::string(1, out[0]) : "?";
}

struct LineCase {
  const char* name;
  std::string bytes;
  int format;
  std::vector<std::string> lines;       // then the empty string at the end
  std::vector<std::int64_t> positions;  // FilePosition after each line
};

TEST_P(FileTest, LineEnds) {
  const LineCase cases[] = {
      {"CR LF", Bytes({0x61, 0x0D, 0x0A, 0x62}), Ascii, {"a", "b"}, {3, 4}},
      {"CR then put back", Bytes({0x61, 0x0D, 0x62}), Ascii, {"a", "b"}, {2, 3}},
      {"LF LF", Bytes({0x61, 0x0A, 0x0A, 0x62}), Ascii, {"a", "", "b"}, {2, 3, 4}},
      {"CR at end", Bytes({0x61, 0x0D}), Ascii, {"a"}, {2}},
      {"0 ends a line", Bytes({0x61, 0x00, 0x62, 0x0A}), Ascii, {"a", "b"}, {2, 4}},
      {"CR then 0 is put back", Bytes({0x61, 0x0D, 0x00, 0x62}), Ascii, {"a", "", "b"}, {2, 3, 4}},
      {"CR CR", Bytes({0x61, 0x0D, 0x0D, 0x62}), Ascii, {"a", "", "b"}, {2, 3, 4}},
      {"LF CR", Bytes({0x61, 0x0A, 0x0D, 0x0A, 0x62}), Ascii, {"a", "", "b"}, {2, 4, 5}},
      {"no line end", "C:\\bundle\\", Ascii, {"C:\\bundle\\"}, {10}},
      {"raw keeps CR and LF", "a\r\nb\nc\0d"s, Ascii | RawRead, {"a\r\nb\nc", "d"}, {7, 8}},
      {"raw Utf8", "\xC3\xA9\r\n\0x"s, Utf8 | RawRead, {"\xE9\r\n", "x"}, {5, 6}},
      {"low five bits: 56 is Ascii", "a\r\nb", 56, {"a", "b"}, {3, 4}},
      {"other values are Ascii", "\xC3\xA9\n", 7, {"\xC3\xA9"}, {3}},
      {"Utf8 e-acute", "\xC3\xA9\n", Utf8, {"\xE9"}, {3}},
      {"Utf8 euro", "\xE2\x82\xAC\n", Utf8, {"?"}, {4}},
      {"Utf8 byte-order mark",
       "\xEF\xBB\xBF"
       "abc\r\ndef",
       Utf8,
       {"?abc", "def"},
       {8, 11}},
      {"Unicode CR LF", Utf16("a\xE9\r\nb"), Unicode, {"a\xE9", "b"}, {8, 10}},
      {"Unicode CR put back", Utf16("a\rb"), Unicode, {"a", "b"}, {4, 6}},
      {"Unicode 0 unit", Utf16(std::string("a\0b\n", 4)), Unicode, {"a", "b"}, {4, 8}},
      {"Unicode euro", Bytes({0xAC, 0x20, 0x41, 0x00}), Unicode, {AnsiOfEuro() + "A"}, {4}},
      {"Unicode lone trailing byte", Bytes({0x61, 0x00, 0x62}), Unicode, {"a"}, {3}},
      {"Unicode CR then lone byte", Bytes({0x61, 0x00, 0x0D, 0x00, 0x62}), Unicode, {"a"}, {5}},
      {"Unicode byte-order mark converted", Bytes({0xFF, 0xFE, 0x61, 0x00}), Unicode, {"?a"}, {4}},
      {"Unicode raw", Utf16("a\r\nb"), Unicode | RawRead, {"a\r\nb"}, {8}},
      {"Unicode read as bytes", Utf16("ab\n"), Ascii, {"a", "b", "", ""}, {2, 4, 5, 6}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    ObjectNumber n = OpenWith(1, c.bytes);
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      EXPECT_EQ(ReadLine(n, c.format), c.lines[i]) << "line " << i;
      EXPECT_EQ(FilePosition(n), c.positions[i]) << "line " << i;
    }
    EXPECT_EQ(ReadLine(n, c.format), "");
    EXPECT_EQ(FilePosition(n), c.positions.back());
    CloseNumberedFile(n);
    EXPECT_EQ(dir_.Read("f"), c.bytes);  // reading never changes the file
  }
}

// A line end at every position around the transfer buffer's edges.
TEST_P(FileTest, LineEndsAcrossTheBufferBoundary) {
  const std::string ends[] = {"\r\n", "\r", "\n", std::string(1, '\0'), std::string("\r\0", 2)};
  for (std::size_t length : {0u, 1u, 4094u, 4095u, 4096u, 4097u, 8190u, 8191u, 8192u, 8193u}) {
    for (const std::string& end : ends) {
      SCOPED_TRACE(::testing::Message()
                   << "length " << length << " end " << end.size() << " " << int(end[0]));
      std::string first(length, 'x');
      for (std::size_t i = 0; i < length; ++i) first[i] = static_cast<char>('a' + i % 26);
      ObjectNumber n = OpenWith(2, first + end + "tail\n");
      EXPECT_EQ(ReadLine(n, Ascii), first);
      std::int64_t afterFirst = static_cast<std::int64_t>(length + (end == "\r" ? 1 : end.size()));
      if (end == std::string("\r\0", 2)) {
        afterFirst = static_cast<std::int64_t>(length + 1);  // the 0 is put back
        EXPECT_EQ(FilePosition(n), afterFirst);
        EXPECT_EQ(ReadLine(n, Ascii), "");
        afterFirst += 1;
      }
      EXPECT_EQ(FilePosition(n), afterFirst);
      EXPECT_EQ(ReadLine(n, Ascii), "tail");
      EXPECT_EQ(ReadLine(n, Ascii), "");
      EXPECT_EQ(FilePosition(n), afterFirst + 5);
      CloseNumberedFile(n);
    }
  }
}

TEST_P(FileTest, ManyShortLinesAcrossBufferRefills) {
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i)
    lines.emplace_back(static_cast<std::size_t>(i % 11), static_cast<char>('A' + i % 26));
  std::string content;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // A lone CR only before a non-empty line: before an LF it would be CR LF.
    bool loneCr = i % 3 == 1 && i + 1 < lines.size() && !lines[i + 1].empty();
    content += lines[i] + (i % 3 == 0 ? "\r\n" : loneCr ? "\r" : "\n");
  }
  ObjectNumber n = OpenWith(1, content);
  for (const std::string& line : lines) ASSERT_EQ(ReadLine(n, Ascii), line);
  EXPECT_EQ(ReadLine(n, Ascii), "");
  EXPECT_EQ(FilePosition(n), static_cast<std::int64_t>(content.size()));
}

TEST_P(FileTest, ATenThousandByteLineIsReturnedWhole) {
  std::string line(10000, 'q');
  for (std::size_t i = 0; i < line.size(); i += 97) line[i] = 'Z';
  ObjectNumber n = OpenWith(1, line + "\nnext");
  CountFileCalls();
  EXPECT_EQ(ReadLine(n, Ascii), line);
  // Buffered: one platform read per 4096 bytes; unbuffered: one per unit.
  EXPECT_EQ(faulty_.Calls(), Unbuffered() ? 10001 : 3);
  EXPECT_EQ(FilePosition(n), 10001);
  EXPECT_EQ(ReadLine(n, Ascii), "next");
  CloseNumberedFile(n);

  n = OpenWith(1, line);  // no line end at all
  EXPECT_EQ(ReadLine(n, Ascii), line);
  EXPECT_EQ(ReadLine(n, Ascii), "");
  CloseNumberedFile(n);

  n = OpenWith(1, Utf16(line) + Utf16("\r\nnext"));
  EXPECT_EQ(ReadLine(n, Unicode), line);
  EXPECT_EQ(FilePosition(n), 20004);
  EXPECT_EQ(ReadLine(n, Unicode), "next");
}

// Unicode units that start at an odd position: one unit straddles the end of
// the read-ahead, and a CR's follower may be such a unit that must be put back.
TEST_P(FileTest, UnicodeUnitsStraddlingTheBufferEdge) {
  for (std::size_t units : {2044u, 2045u, 2046u, 2047u, 2048u, 4093u, 4094u, 4095u}) {
    for (const char* end : {"\r", "\r\n", "\n"}) {
      SCOPED_TRACE(::testing::Message() << units << " units, end " << std::strlen(end));
      std::string body(units, 'x');
      ObjectNumber n = OpenWith(1, "\n" + Utf16(body + end + "bc\nend"));
      EXPECT_EQ(ReadLine(n, Ascii), "");  // one byte: the units start at offset 1
      EXPECT_EQ(ReadLine(n, Unicode), body);
      EXPECT_EQ(FilePosition(n), static_cast<std::int64_t>(1 + 2 * (units + std::strlen(end))));
      EXPECT_EQ(ReadLine(n, Unicode), "bc");
      EXPECT_EQ(ReadLine(n, Unicode), "end");
      EXPECT_EQ(ReadLine(n, Unicode), "");
      CloseNumberedFile(n);
    }
  }
}

// --- positions across reading and writing --------------------------------------------

TEST_P(FileTest, ReadWriteReadKeepsTheLogicalPosition) {
  std::string original;
  for (int i = 0; i < 2000; ++i) original += "line" + std::to_string(i) + "\n";
  ObjectNumber n = OpenWith(1, original);
  std::string expected = original;

  EXPECT_EQ(ReadLine(n, Ascii), "line0");
  EXPECT_EQ(FilePosition(n), 6);
  EXPECT_EQ(WriteFileText(n, "XY", Ascii), 2);
  expected.replace(6, 2, "XY");
  EXPECT_EQ(FilePosition(n), 8);
  EXPECT_EQ(ReadLine(n, Ascii), "ne1");
  EXPECT_EQ(FilePosition(n), 12);
  EXPECT_EQ(WriteFileText(n, "ZZ", Ascii), 2);
  expected.replace(12, 2, "ZZ");
  EXPECT_EQ(WriteFileText(n, "W", Ascii), 1);
  expected.replace(14, 1, "W");
  EXPECT_EQ(FilePosition(n), 15);
  EXPECT_EQ(ReadLine(n, Ascii), "e2");  // "line2" is now "ZZWe2"
  EXPECT_EQ(FilePosition(n), 18);

  // Far into the file, past the first refill.
  while (FilePosition(n) < 5000) ReadLine(n, Ascii);
  std::int64_t at = FilePosition(n);
  std::string big(4100, 'B');  // bypasses the buffer
  EXPECT_EQ(WriteFileText(n, big.c_str(), Ascii), 4100);
  expected.replace(static_cast<std::size_t>(at), big.size(), big);
  EXPECT_EQ(FilePosition(n), at + 4100);
  std::size_t lineEnd = expected.find('\n', static_cast<std::size_t>(at) + 4100);
  EXPECT_EQ(ReadLine(n, Ascii), expected.substr(static_cast<std::size_t>(at) + 4100,
                                                lineEnd - static_cast<std::size_t>(at) - 4100));
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), expected);
}

TEST_P(FileTest, WriteAfterAPartialReadContinuesAtTheLogicalPosition) {
  ObjectNumber n = OpenWith(1, "first\nsecond\nthird\n");
  EXPECT_EQ(ReadLine(n, Ascii), "first");
  EXPECT_EQ(WriteFileText(n, "XY", Ascii), 2);
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "first\nXYcond\nthird\n");
}

TEST_P(FileTest, CutAfterAPartialReadCutsRightAfterTheLine) {
  std::string rest(6000, 'r');
  ObjectNumber n = OpenWith(1, "first\n" + rest);
  EXPECT_EQ(ReadLine(n, Ascii), "first");
  EXPECT_EQ(CutFile(n), 1);
  EXPECT_EQ(FilePosition(n), 6);
  EXPECT_EQ(ReadLine(n, Ascii), "");
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "first\n");
}

TEST_P(FileTest, CutWritesPendingOutputFirst) {
  ObjectNumber n = OpenWith(1, "0123456789");
  EXPECT_EQ(WriteFileText(n, "abc", Ascii), 3);
  EXPECT_EQ(CutFile(n), 1);
  EXPECT_EQ(FilePosition(n), 3);
  EXPECT_EQ(WriteFileText(n, "d", Ascii), 1);
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "abcd");
}

TEST_P(FileTest, SeekFlushesDropsReadAheadAndReportsTheLowHalf) {
  ObjectNumber n = OpenWith(1, "abc\ndef\nghi\n");
  EXPECT_EQ(ReadLine(n, Ascii), "abc");
  EXPECT_EQ(SeekFile(n, 8, 0), 8u);
  EXPECT_EQ(ReadLine(n, Ascii), "ghi");
  EXPECT_EQ(SeekFile(n, 4, 0), 4u);
  EXPECT_EQ(WriteFileText(n, "DEF", Ascii), 3);
  EXPECT_EQ(SeekFile(n, 0, 0), 0u);  // writes the pending "DEF"
  EXPECT_EQ(ReadLine(n, Ascii), "abc");
  EXPECT_EQ(ReadLine(n, Ascii), "DEF");
  EXPECT_EQ(SeekFile(n, 5, 1), 5u);  // 2^32 + 5: only the low half comes back
  EXPECT_EQ(FilePosition(n), (std::int64_t{1} << 32) + 5);
  EXPECT_EQ(SeekFile(n, 100, 0), 100u);  // past the end
  EXPECT_EQ(ReadLine(n, Ascii), "");
  EXPECT_EQ(FilePosition(n), 100);
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "abc\nDEF\nghi\n");
}

// A platform of large values: a file's bytes lie `base` bytes into it
// (positions are reported `base` further on, and a move before `base` is
// refused), and its handles have the top bit set, negative taken as numbers.
// Positions around 2 GiB and 4 GiB without a file that large.
class FarPlatform : public testing::ForwardingPlatform {
 public:
  FarPlatform(Platform& inner, std::int64_t base) : ForwardingPlatform(inner), base_(base) {}
  static constexpr Handle kTopBit = ~(~Handle{0} >> 1);

  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     Creation creation) override {
    Handle handle = inner_.CreateFileA(path, access, share, creation);
    return handle ? handle | kTopBit : 0;
  }
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override {
    return inner_.ReadFile(Inner(file), buffer, count, read);
  }
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    return inner_.WriteFile(Inner(file), buffer, count, written);
  }
  bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                      std::int64_t* position) override {
    if (method == MoveMethod::Begin) {
      if (distance < base_) return false;
      distance -= base_;
    }
    std::int64_t at = 0;
    if (!inner_.SetFilePointer(Inner(file), distance, method, &at)) return false;
    if (position) *position = at + base_;
    return true;
  }
  bool SetEndOfFile(Handle file) override { return inner_.SetEndOfFile(Inner(file)); }
  bool CloseHandle(Handle handle) override { return inner_.CloseHandle(Inner(handle)); }

 private:
  // A handle this platform gave out; anything else is no handle.
  static Handle Inner(Handle handle) { return handle & kTopBit ? handle & ~kTopBit : 0; }
  std::int64_t base_;
};

// Logical positions past 2 GiB and 4 GiB are exact through reads, writes,
// seeks and cuts; a seek the platform refuses fails, never wraps. Handles
// with the top bit set name their file.
TEST_P(FileTest, PositionsPastTwoAndFourGigabytesStayExact) {
  for (std::int64_t base :
       {(std::int64_t{1} << 31) - 2, (std::int64_t{1} << 32) - 2, (std::int64_t{3} << 31) - 2}) {
    SCOPED_TRACE(base);
    FarPlatform far(faulty_, base);
    testing::PlatformScope scope(far);
    auto seek = [](ObjectNumber n, std::int64_t to) {
      auto at = static_cast<std::uint64_t>(to);
      return SeekFile(n, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at >> 32));
    };
    std::intptr_t opened = Open(1, dir_.Write("f", "abc\ndef\nghi\n"));
    ASSERT_NE(opened, 0);
    ObjectNumber n = 1;
    EXPECT_EQ(static_cast<Handle>(opened), LookupObject(FileTable(), n)->handle);
    EXPECT_EQ(FilePosition(n), base);
    EXPECT_EQ(ReadLine(n, Ascii), "abc");
    EXPECT_EQ(FilePosition(n), base + 4);
    EXPECT_EQ(WriteFileText(n, "DEF", Ascii), 3);
    EXPECT_EQ(FilePosition(n), base + 7);
    EXPECT_EQ(CutFile(n), 1);
    EXPECT_EQ(seek(n, base + 1), static_cast<std::uint32_t>(base + 1));
    EXPECT_EQ(FilePosition(n), base + 1);
    EXPECT_EQ(ReadLine(n, Ascii), "bc");
    EXPECT_EQ(seek(n, base - 1), 0xFFFFFFFFu);  // refused by the platform
    EXPECT_EQ(seek(n, base + 5), static_cast<std::uint32_t>(base + 5));
    EXPECT_EQ(ReadLine(n, Ascii), "EF");
    EXPECT_EQ(FilePosition(n), base + 7);
    CloseNumberedFile(n);
    EXPECT_EQ(dir_.Read("f"), "abc\nDEF");
  }
}

// The launcher's rewrite of the state file, on files of any length.
TEST_P(FileTest, SeekCutWriteCloseLeavesExactlyTheText) {
  const std::string texts[] = {"C:\\bundle\\", std::string(5000, 't'), "x"};
  for (std::size_t length : {0u, 1u, 10u, 11u, 4095u, 4096u, 4097u, 8192u, 10000u}) {
    for (const std::string& text : texts) {
      for (bool readFirst : {false, true}) {
        SCOPED_TRACE(::testing::Message() << length << " " << text.size() << " " << readFirst);
        std::string old(length, 'o');
        for (std::size_t i = 40; i < length; i += 41) old[i] = '\n';
        ObjectNumber n = OpenWith(1, old);
        if (readFirst) ReadLine(n, Ascii);
        EXPECT_EQ(SeekFile(n, 0, 0), 0u);
        EXPECT_EQ(CutFile(n), 1);
        EXPECT_EQ(WriteFileText(n, text.c_str(), Ascii), static_cast<std::int64_t>(text.size()));
        CloseNumberedFile(n);
        EXPECT_EQ(dir_.Read("f"), text);
      }
    }
  }
}

TEST_P(FileTest, TheStateFileRoundTrip) {
  std::string path = dir_.Path("state.txt");
  const char* root = "D:\\Portable\\Bundle\\";
  for (int run = 0; run < 2; ++run) {
    ASSERT_NE(Open(1, path), 0);
    std::string recorded = ReadLine(1, Ascii);
    if (recorded != root) {
      EXPECT_EQ(run, 0);
      SeekFile(1, 0, 0);
      CutFile(1);
      WriteFileText(1, root, Ascii);
    }
    CloseNumberedFile(1);
  }
  EXPECT_EQ(dir_.Read("state.txt"), root);
}

// --- writing text ------------------------------------------------------------------

TEST_P(FileTest, WriteFileTextPerFormat) {
  struct Case {
    const char* name;
    std::string text;
    int format;
    std::string bytes;
  } cases[] = {
      {"Ascii", "a\xE9\r\n", Ascii, "a\xE9\r\n"},
      {"other values are Ascii", "a\xE9", 3, "a\xE9"},
      {"RawRead is not a writing flag", "a\xE9", Utf8 | RawRead, "a\xE9"},
      {"Utf8 e-acute", "\xE9", Utf8, "\xC3\xA9"},
      {"Utf8 mixed", "a\xE9\xFF", Utf8, "a\xC3\xA9\xC3\xBF"},
      {"Unicode, no byte-order mark", "a\xE9", Unicode, Bytes({0x61, 0x00, 0xE9, 0x00})},
      {"Unicode line end kept as given", "\r\n", Unicode, Bytes({0x0D, 0x00, 0x0A, 0x00})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ObjectNumber n = OpenWith(1, "");
    EXPECT_EQ(WriteFileText(n, c.text.c_str(), c.format),
              static_cast<std::int64_t>(c.bytes.size()));
    EXPECT_EQ(FilePosition(n), static_cast<std::int64_t>(c.bytes.size()));
    CloseNumberedFile(n);
    EXPECT_EQ(dir_.Read("f"), c.bytes);
  }
}

TEST_P(FileTest, EmptyOrNullTextWritesNothing) {
  ObjectNumber n = OpenWith(1, "keep");
  CountFileCalls();
  for (int format : {Ascii, Utf8, Unicode}) {
    EXPECT_EQ(WriteFileText(n, "", format), 0);
    EXPECT_EQ(WriteFileText(n, nullptr, format), 0);
  }
  EXPECT_EQ(faulty_.Calls(), 0);
  EXPECT_EQ(FilePosition(n), 0);
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "keep");
}

TEST_P(FileTest, WrittenTextReadsBackInEveryFormat) {
  std::string text;
  for (int c = 1; c < 256; ++c)
    if (c != '\r' && c != '\n') text.push_back(static_cast<char>(c));
  std::string big(9000, 'w');
  for (int format : {Ascii, Utf8, Unicode}) {
    SCOPED_TRACE(format);
    ObjectNumber n = OpenWith(1, "");
    WriteFileText(n, text.c_str(), format);
    WriteFileText(n, "\n", format);
    WriteFileText(n, big.c_str(), format);
    EXPECT_EQ(SeekFile(n, 0, 0), 0u);
    EXPECT_EQ(ReadLine(n, format), text);
    EXPECT_EQ(ReadLine(n, format), big);
    EXPECT_EQ(ReadLine(n, format), "");
    CloseNumberedFile(n);
  }
}

TEST_P(FileTest, AFailedUnicodeConversionWritesNothing) {
  ObjectNumber n = OpenWith(1, "");
  faulty_.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::OtherCalls);
  EXPECT_EQ(WriteFileText(n, "abc", Unicode), 0);
  EXPECT_TRUE(faulty_.Fired());
  faulty_.FailAt(2, FaultyPlatform::Fault::Fail, FaultyPlatform::OtherCalls);
  EXPECT_EQ(WriteFileText(n, "abc", Unicode), 0);
  EXPECT_TRUE(faulty_.Fired());
  faulty_.FailAt(0);
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), "");
}

// --- memory ----------------------------------------------------------------------

TEST_P(FileTest, NoWorkBufferGivesTheEmptyStringAndConsumesNothing) {
  ObjectNumber n = OpenWith(1, "abc\ndef\n");
  faulty_.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(ReadLine(n, Ascii), "");
  EXPECT_TRUE(faulty_.Fired());
  EXPECT_EQ(faulty_.FiredAt(), "HeapAlloc");
  faulty_.FailAt(0);
  EXPECT_EQ(FilePosition(n), 0);
  EXPECT_EQ(ReadLine(n, Ascii), "abc");
}

TEST_P(FileTest, AWorkBufferThatCannotGrowEndsTheLineWithoutLosingBytes) {
  std::string line(5000, 'g');
  line[4096] = 'H';
  ObjectNumber n = OpenWith(1, line + "\n");
  faulty_.FailAt(2, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(ReadLine(n, Ascii), line.substr(0, 4096));
  EXPECT_EQ(faulty_.FiredAt(), "HeapReAlloc");
  faulty_.FailAt(0);
  EXPECT_EQ(FilePosition(n), 4096);
  EXPECT_EQ(ReadLine(n, Ascii), line.substr(4096));
}

// --- closing -----------------------------------------------------------------------

TEST_P(FileTest, CloseAllFilesWritesPendingOutputAndReleasesEveryNumber) {
  for (bool viaMinusOne : {false, true}) {
    SCOPED_TRACE(viaMinusOne);
    ASSERT_NE(Open(5, dir_.Path("five")), 0);
    ASSERT_NE(Open(2, dir_.Path("two")), 0);
    ObjectNumber older = Open(kDynamicNumber, dir_.Path("older"));
    ObjectNumber newer = Open(kDynamicNumber, dir_.Path("newer"));
    ASSERT_TRUE(older && newer);
    Handle handles[] = {LookupObject(FileTable(), 5)->handle, LookupObject(FileTable(), 2)->handle,
                        LookupObject(FileTable(), older)->handle,
                        LookupObject(FileTable(), newer)->handle};
    WriteFileText(5, "5", Ascii);
    WriteFileText(2, "2", Ascii);
    WriteFileText(older, "o", Ascii);
    WriteFileText(newer, "n", Ascii);
    if (viaMinusOne) {
      CloseNumberedFile(kDynamicNumber);
    } else {
      CloseAllFiles();
    }
    EXPECT_EQ(dir_.Read("five"), "5");
    EXPECT_EQ(dir_.Read("two"), "2");
    EXPECT_EQ(dir_.Read("older"), "o");
    EXPECT_EQ(dir_.Read("newer"), "n");
    EXPECT_EQ(FileTable()->dynamicObjects, nullptr);
    for (ObjectNumber number : {ObjectNumber{5}, ObjectNumber{2}, older, newer})
      EXPECT_EQ(FilePosition(number), -1);
    for (Handle handle : handles) EXPECT_FALSE(Sys().CloseHandle(handle));  // all closed
  }
}

// The order shows in the flushes: each buffered file with pending output
// makes one platform write as it closes; failing the k-th write loses the
// output of the k-th file closed.
TEST(FileCloseOrder, SlotsAscendingThenDynamicFilesOldestFirst) {
  ASSERT_TRUE(InitFileLibrary());
  CloseAllFiles();
  TempDir dir;
  FaultyPlatform faulty(NativePlatform());
  Platform* previous = SetPlatform(&faulty);
  const char* names[] = {"five", "two", "older", "newer"};
  const char* expectedOrder[] = {"two", "five", "older", "newer"};
  for (int k = 1; k <= 4; ++k) {
    SCOPED_TRACE(k);
    ObjectNumber numbers[] = {5, 2, 0, 0};
    numbers[2] = OpenNumberedFile(kDynamicNumber, dir.Path("older").c_str());
    numbers[3] = OpenNumberedFile(kDynamicNumber, dir.Path("newer").c_str());
    ASSERT_NE(OpenNumberedFile(5, dir.Path("five").c_str()), 0);
    ASSERT_NE(OpenNumberedFile(2, dir.Path("two").c_str()), 0);
    for (int i = 0; i < 4; ++i) {
      SeekFile(numbers[i], 0, 0);
      CutFile(numbers[i]);
      ASSERT_EQ(WriteFileText(numbers[i], names[i], Ascii),
                static_cast<std::int64_t>(std::strlen(names[i])));
    }
    faulty.FailAt(k, FaultyPlatform::Fault::Fail, FaultyPlatform::FileCalls);
    CloseAllFiles();
    EXPECT_EQ(faulty.FiredAt(), "WriteFile");
    faulty.FailAt(0);
    for (const char* name : names) {
      bool lost = std::string(name) == expectedOrder[k - 1];
      EXPECT_EQ(dir.Read(name), lost ? "" : name) << name;
    }
  }
  SetPlatform(previous == &NativePlatform() ? nullptr : previous);
}

TEST_P(FileTest, CloseReleasesTheNumber) {
  ObjectNumber n = OpenWith(6, "abc");
  EXPECT_EQ(WriteFileText(n, "X", Ascii), 1);
  CloseNumberedFile(n);
  EXPECT_EQ(LookupObject(FileTable(), 6), nullptr);
  EXPECT_EQ(FilePosition(6), -1);
  CountFileCalls();
  CloseNumberedFile(6);  // a second close does nothing
  EXPECT_EQ(faulty_.Calls(), 0);
  EXPECT_EQ(dir_.Read("f"), "Xbc");
}

// --- against a model ----------------------------------------------------------------

// A simple in-memory model of the file and its logical position.
struct Model {
  std::string content;
  std::size_t pos = 0;

  std::string ReadLine(int format) {
    bool raw = format & RawRead;
    std::string line;
    while (pos < content.size()) {
      char c = content[pos++];
      if (c == '\0') break;
      if (!raw && c == '\n') break;
      if (!raw && c == '\r') {
        if (pos < content.size() && content[pos] == '\n') ++pos;
        break;
      }
      line.push_back(c);
    }
    if ((format & 31) == Utf8) {
      std::string out(NarrowFromUtf8(line.data(), line.size(), nullptr, 0), '\0');
      NarrowFromUtf8(line.data(), line.size(), out.data(), out.size());
      return out;
    }
    return line;
  }
  void Write(const std::string& text) {
    if (content.size() < pos) content.resize(pos, '\0');
    content.replace(pos, std::min(text.size(), content.size() - pos), text);
    pos += text.size();
  }
};

TEST_P(FileTest, RandomOperationsMatchAModel) {
  std::uint64_t seed = 12345;
  auto next = [&seed](std::uint64_t bound) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::size_t>((seed >> 33) % bound);
  };
  const char alphabet[] = {'a', 'b', '\r', '\n', '\0', '\xC3', '\xA9', 'z'};
  Model model;
  for (int i = 0; i < 9000; ++i) model.content.push_back(alphabet[next(sizeof alphabet)]);
  ObjectNumber n = OpenWith(1, model.content);
  const int formats[] = {Ascii, Utf8, Ascii | RawRead, 0};
  for (int step = 0; step < 2000; ++step) {
    SCOPED_TRACE(step);
    switch (next(10)) {
      case 0:
      case 1:
      case 2:
      case 3: {
        int format = formats[next(4)];
        ASSERT_EQ(ReadLine(n, format), model.ReadLine(format));
        break;
      }
      case 4:
      case 5: {
        static const std::size_t lengths[] = {1, 2, 3, 7, 100, 4095, 4096, 4097, 6000};
        std::string text(lengths[next(9)], 'w');
        for (char& c : text) c = "WXYZ\r\n"[next(6)];
        ASSERT_EQ(WriteFileText(n, text.c_str(), Ascii), static_cast<std::int64_t>(text.size()));
        model.Write(text);
        break;
      }
      case 6: {
        std::size_t to = next(model.content.size() + 20);
        ASSERT_EQ(SeekFile(n, static_cast<std::uint32_t>(to), 0), to);
        model.pos = to;
        break;
      }
      case 7:
        if (next(4) == 0) {
          ASSERT_EQ(CutFile(n), 1);
          model.content.resize(model.pos, '\0');
        }
        break;
      case 8:
        if (next(8) == 0) {
          CloseNumberedFile(n);
          ASSERT_EQ(dir_.Read("f"), model.content);
          ASSERT_NE(Open(1, dir_.Path("f")), 0);
          model.pos = 0;
        }
        break;
      default:
        break;
    }
    ASSERT_EQ(FilePosition(n), static_cast<std::int64_t>(model.pos));
  }
  CloseNumberedFile(n);
  EXPECT_EQ(dir_.Read("f"), model.content);
}

// --- the table ------------------------------------------------------------------------

TEST(FileTable, GrowsBySixteenAndClosesThroughCloseNumberedFile) {
  ASSERT_TRUE(InitFileLibrary());
  ObjectTable<SequentialFile>* table = FileTable();
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(InitFileLibrary());
  EXPECT_EQ(FileTable(), table);  // created once
  EXPECT_EQ(table->growth, 16);
  EXPECT_EQ(table->closeHook, &CloseNumberedFile);
  TempDir dir;
  ObjectNumber number = table->capacity + 24;  // 40 on a fresh table, which then holds 56
  ASSERT_NE(OpenNumberedFile(number, dir.Path("x").c_str()), 0);
  EXPECT_EQ(table->capacity, number + 16);
  CloseAllFiles();
}

}  // namespace
}  // namespace qg
