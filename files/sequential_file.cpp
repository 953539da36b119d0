// Numbered files with buffered sequential access.
//
// One transfer buffer per file serves as read-ahead (ReadMode) or as pending
// output (WriteMode). The platform position is where the next platform read
// or write happens; the logical position, the one callers see, is the
// platform position minus the unread read-ahead (ReadMode) or plus the
// pending output (WriteMode). Every switch keeps the two in step: a write
// after a read first gives the read-ahead back to the platform, a read after
// a write first writes the pending output.
//
// A file whose buffer could not be allocated works unbuffered: every read or
// write is one platform call, and a unit put back after a CR moves the
// platform position back.
#include "files/sequential_file.h"

#include <cstring>

#include "files/utf8.h"

namespace qg {

namespace {

ObjectTable<SequentialFile>* fileTable = nullptr;

// Line work buffers start at this size and grow by it.
constexpr std::size_t kLineStep = 4096;

// Largest transfer handed to one WriteBytes / platform write.
constexpr std::size_t kMaxTransfer = 0x40000000;

constexpr char16_t kLf = 10;
constexpr char16_t kCr = 13;

// --- the transfer buffer -------------------------------------------------------

// Writes the pending output in one platform write (0 bytes when nothing is
// pending). WriteMode only; in ReadMode nothing happens.
std::int32_t FlushFile(SequentialFile* file) {
  if (!file->buffer || file->mode != WriteMode) return 0;
  std::uint32_t pending = static_cast<std::uint32_t>(file->bufferSize - file->count);
  std::uint32_t written = 0;
  (void)Sys().WriteFile(file->handle, file->buffer, pending, &written);  // errors ignored
  file->count = file->bufferSize;
  return static_cast<std::int32_t>(written);
}

// Buffered read of up to `n` bytes; fewer at the end of the file.
std::int32_t ReadBytes(SequentialFile* file, char* destination, std::int32_t n) {
  if (file->mode == WriteMode) {
    FlushFile(file);
    file->mode = ReadMode;
    file->count = 0;
    file->filled = 0;
  }
  if (n <= 0) return 0;
  if (file->count >= n) {
    std::memcpy(destination, file->buffer + file->filled - file->count,
                static_cast<std::size_t>(n));
    file->count -= n;
    return n;
  }
  std::int32_t have = file->count;
  if (have > 0)
    std::memcpy(destination, file->buffer + file->filled - have, static_cast<std::size_t>(have));
  file->count = 0;
  std::int32_t need = n - have;
  std::uint32_t got = 0;
  if (need >= file->bufferSize) {
    (void)Sys().ReadFile(file->handle, destination + have, static_cast<std::uint32_t>(need), &got);
    return have + static_cast<std::int32_t>(got);
  }
  (void)Sys().ReadFile(file->handle, file->buffer, static_cast<std::uint32_t>(file->bufferSize),
                       &got);
  if (got > static_cast<std::uint32_t>(file->bufferSize)) got = 0;  // a platform that lies
  file->filled = file->count = static_cast<std::int32_t>(got);
  std::int32_t take = need < file->count ? need : file->count;
  std::memcpy(destination + have, file->buffer, static_cast<std::size_t>(take));
  file->count -= take;
  return have + take;
}

// Buffered write of `n` bytes; the bytes accepted.
std::int32_t WriteBytes(SequentialFile* file, const char* source, std::int32_t n) {
  if (file->mode == ReadMode) {
    // Give the unread read-ahead back so the platform sits at the logical position.
    if (file->count > 0)
      (void)Sys().SetFilePointer(file->handle, -static_cast<std::int64_t>(file->count),
                                 MoveMethod::Current, nullptr);
    file->mode = WriteMode;
    file->count = file->bufferSize;
    file->filled = 0;
  }
  if (n <= 0) return 0;
  if (file->count > n) {
    std::memcpy(file->buffer + (file->bufferSize - file->count), source,
                static_cast<std::size_t>(n));
    file->count -= n;
    return n;
  }
  FlushFile(file);
  if (n >= file->bufferSize) {
    std::uint32_t written = 0;
    (void)Sys().WriteFile(file->handle, source, static_cast<std::uint32_t>(n), &written);
    return static_cast<std::int32_t>(written);
  }
  std::memcpy(file->buffer, source, static_cast<std::size_t>(n));
  file->count -= n;
  return n;
}

// --- units for the line reader -----------------------------------------------

// Reads one unit of `size` bytes (1 or 2) into `bytes`; the bytes delivered.
std::int32_t ReadUnit(SequentialFile* file, unsigned char* bytes, std::int32_t size) {
  if (file->buffer) return ReadBytes(file, reinterpret_cast<char*>(bytes), size);
  std::uint32_t got = 0;
  (void)Sys().ReadFile(file->handle, bytes, static_cast<std::uint32_t>(size), &got);
  return got > static_cast<std::uint32_t>(size) ? 0 : static_cast<std::int32_t>(got);
}

// Puts back the unit of `size` bytes just read, so the next read starts with it.
void PutBackUnit(SequentialFile* file, std::int32_t size) {
  if (!file->buffer) {
    (void)Sys().SetFilePointer(file->handle, -static_cast<std::int64_t>(size), MoveMethod::Current,
                               nullptr);
    return;
  }
  if (file->mode == ReadMode && file->count + size <= file->filled) {
    file->count += size;  // the unit's bytes are still in the buffer
    return;
  }
  // A 2-byte unit split across a refill: its first byte is no longer in the
  // buffer. Give back the read-ahead and the unit to the platform instead.
  (void)Sys().SetFilePointer(file->handle, -static_cast<std::int64_t>(file->count + size),
                             MoveMethod::Current, nullptr);
  file->mode = ReadMode;
  file->count = 0;
  file->filled = 0;
}

// Writes `n` bytes through the buffer or straight to the platform; the bytes
// accepted.
std::int64_t WriteOut(SequentialFile* file, const char* bytes, std::size_t n) {
  std::int64_t total = 0;
  while (n > 0) {
    std::size_t chunk = n < kMaxTransfer ? n : kMaxTransfer;
    std::int64_t done;
    if (file->buffer) {
      done = WriteBytes(file, bytes, static_cast<std::int32_t>(chunk));
    } else {
      std::uint32_t written = 0;
      (void)Sys().WriteFile(file->handle, bytes, static_cast<std::uint32_t>(chunk), &written);
      done = written;
    }
    total += done;
    if (done != static_cast<std::int64_t>(chunk)) break;
    bytes += chunk;
    n -= chunk;
  }
  return total;
}

// A block from the private heap, freed at the end of the scope.
class HeapBlock {
 public:
  explicit HeapBlock(std::size_t size) : block_(static_cast<char*>(Sys().HeapAlloc(size, false))) {}
  ~HeapBlock() {
    if (block_) Sys().HeapFree(block_);
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  char* get() const { return block_; }
  // Grows the block; false (block unchanged) when memory runs out.
  bool Grow(std::size_t size) {
    auto* grown = static_cast<char*>(Sys().HeapReAlloc(block_, size, false));
    if (!grown) return false;
    block_ = grown;
    return true;
  }

 private:
  char* block_;
};

// The collected units of a line as text of the format.
std::string LineText(const char* units, std::size_t length, int format) {
  if (length == 0) return std::string();
  if (format == Utf8) {
    std::size_t size = NarrowFromUtf8(units, length, nullptr, 0);
    std::string text(size, '\0');
    if (size > 0) text.resize(NarrowFromUtf8(units, length, text.data(), size));
    return text;
  }
  if (format == Unicode) {
    // `units` holds native char16_t values and, after them, a 0 unit.
    const auto* wide = reinterpret_cast<const char16_t*>(units);
    int count = static_cast<int>(length / 2) + 1;
    int size = Sys().WideCharToMultiByte(wide, count, nullptr, 0);
    if (size <= 0) return std::string();
    std::string text(static_cast<std::size_t>(size), '\0');
    int made = Sys().WideCharToMultiByte(wide, count, text.data(), size);
    if (made <= 0) return std::string();
    text.resize(static_cast<std::size_t>(made));
    if (!text.empty() && text.back() == '\0') text.pop_back();  // the terminator
    return text;
  }
  return std::string(units, length);
}

}  // namespace

bool InitFileLibrary() {
  if (!fileTable) fileTable = CreateObjectTable<SequentialFile>(16, CloseNumberedFile);
  return fileTable != nullptr;
}

ObjectTable<SequentialFile>* FileTable() { return fileTable; }

namespace {

std::intptr_t OpenNumbered(ObjectNumber number, const char* path, std::uint32_t access,
                           Creation creation) {
  // The slot is taken first: a file living under the number is closed here.
  SequentialFile* file = AcquireObject(fileTable, number);
  if (!file) return 0;
  Handle handle = path ? Sys().CreateFileA(path, access, FILE_SHARE_READ_MODE, creation) : 0;
  if (handle == 0) {
    if (number == kDynamicNumber) ReleaseObject(fileTable, reinterpret_cast<ObjectNumber>(file));
    return 0;  // a fixed slot's record stays cleared: the number names nothing
  }
  file->handle = handle;
  file->buffer =
      static_cast<char*>(Sys().HeapAlloc(TransferBufferSize, false));  // null: unbuffered
  file->bufferSize = TransferBufferSize;
  file->count = 0;
  file->filled = 0;
  file->mode = ReadMode;
  if (number == kDynamicNumber) return reinterpret_cast<ObjectNumber>(file);
  return static_cast<std::intptr_t>(handle);
}

}  // namespace

std::intptr_t OpenNumberedFile(ObjectNumber number, const char* path) {
  return OpenNumbered(number, path, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                      Creation::OpenAlways);
}

std::intptr_t OpenNumberedFileForReading(ObjectNumber number, const char* path) {
  return OpenNumbered(number, path, GENERIC_READ_ACCESS, Creation::OpenExisting);
}

std::string ReadLine(ObjectNumber number, int format) {
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file) return std::string();
  bool raw = (format & RawRead) != 0;
  int kind = format & 31;
  std::int32_t unitSize = kind == Unicode ? 2 : 1;

  HeapBlock work(kLineStep);
  if (!work.get()) return std::string();  // nothing consumed
  std::size_t capacity = kLineStep;
  std::size_t length = 0;  // bytes stored (Unicode: 2 per unit, native order)

  for (;;) {
    unsigned char bytes[2] = {0, 0};
    if (ReadUnit(file, bytes, unitSize) < unitSize) break;  // end of file; a lone byte is dropped
    char16_t unit = unitSize == 2 ? static_cast<char16_t>(bytes[0] | (bytes[1] << 8)) : bytes[0];
    if (unit == 0) break;
    if (!raw && unit == kLf) break;
    if (!raw && unit == kCr) {
      unsigned char next[2] = {0, 0};
      if (ReadUnit(file, next, unitSize) == unitSize) {
        char16_t after = unitSize == 2 ? static_cast<char16_t>(next[0] | (next[1] << 8)) : next[0];
        if (after != kLf) PutBackUnit(file, unitSize);
      }
      break;
    }
    if (length + static_cast<std::size_t>(unitSize) > capacity) {
      if (!work.Grow(capacity + kLineStep)) {
        PutBackUnit(file, unitSize);  // out of memory: the line ends before this unit
        break;
      }
      capacity += kLineStep;
    }
    if (unitSize == 2) {
      std::memcpy(work.get() + length, &unit, 2);
    } else {
      work.get()[length] = static_cast<char>(unit);
    }
    length += static_cast<std::size_t>(unitSize);
  }

  if (kind == Unicode && length > 0) {
    // The wide-to-ANSI conversion takes the units with their terminating 0 unit.
    if (length + 2 > capacity) {
      if (!work.Grow(capacity + kLineStep)) return std::string();
      capacity += kLineStep;
    }
    const char16_t zero = 0;
    std::memcpy(work.get() + length, &zero, 2);
  }
  return LineText(work.get(), length, kind);
}

std::int64_t WriteFileText(ObjectNumber number, const char* text, int format) {
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file || !text || !*text) return 0;
  if (format == Unicode) {
    int units = Sys().MultiByteToWideChar(text, -1, nullptr, 0);
    if (units <= 1) return 0;
    HeapBlock wide(static_cast<std::size_t>(units) * 2);
    if (!wide.get()) return 0;
    auto* unitsOut = reinterpret_cast<char16_t*>(wide.get());
    if (Sys().MultiByteToWideChar(text, -1, unitsOut, units) != units) return 0;
    // Little-endian bytes in place, without the terminating 0 unit.
    auto* bytes = reinterpret_cast<unsigned char*>(wide.get());
    std::size_t count = static_cast<std::size_t>(units) - 1;
    for (std::size_t i = 0; i < count; ++i) {
      char16_t unit;
      std::memcpy(&unit, bytes + 2 * i, 2);
      bytes[2 * i] = static_cast<unsigned char>(unit & 0xFF);
      bytes[2 * i + 1] = static_cast<unsigned char>(unit >> 8);
    }
    return WriteOut(file, wide.get(), count * 2);
  }
  std::size_t length = std::strlen(text);
  if (format == Utf8) {
    if (length > SIZE_MAX / 4) return 0;
    HeapBlock encoded(4 * length);
    if (!encoded.get()) return 0;
    std::size_t size = Utf8FromNarrow(text, length, encoded.get(), 4 * length);
    return WriteOut(file, encoded.get(), size);
  }
  return WriteOut(file, text, length);
}

std::uint32_t SeekFile(ObjectNumber number, std::uint32_t positionLow, std::uint32_t positionHigh) {
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file) return 0;
  if (file->buffer) {
    FlushFile(file);
    file->mode = ReadMode;
    file->count = 0;
    file->filled = 0;
  }
  auto target =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(positionHigh) << 32) | positionLow);
  std::int64_t position = 0;
  if (!Sys().SetFilePointer(file->handle, target, MoveMethod::Begin, &position))
    return 0xFFFFFFFFu;  // INVALID_SET_FILE_POINTER, as the platform reports a failed move
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(position) & 0xFFFFFFFFu);
}

std::int64_t FilePosition(ObjectNumber number) {
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file) return -1;
  std::int64_t position = 0;
  if (!Sys().SetFilePointer(file->handle, 0, MoveMethod::Current, &position)) return -1;
  if (!file->buffer) return position;
  if (file->mode == ReadMode) return position - file->count;
  return position + (file->bufferSize - file->count);
}

int CutFile(ObjectNumber number) {
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file) return 0;
  std::int64_t position = FilePosition(number);
  if (position < 0) return 0;
  auto at = static_cast<std::uint64_t>(position);
  SeekFile(number, static_cast<std::uint32_t>(at & 0xFFFFFFFFu),
           static_cast<std::uint32_t>(at >> 32));
  return Sys().SetEndOfFile(file->handle) ? 1 : 0;
}

void CloseNumberedFile(ObjectNumber number) {
  if (number == kDynamicNumber) {
    CloseAllObjects(fileTable);
    return;
  }
  SequentialFile* file = LookupObject(fileTable, number);
  if (!file) return;
  if (file->buffer) {
    FlushFile(file);
    Sys().HeapFree(file->buffer);
    file->buffer = nullptr;
  }
  Sys().CloseHandle(file->handle);
  ReleaseObject(fileTable, number);
}

void CloseAllFiles() { CloseNumberedFile(kDynamicNumber); }

}  // namespace qg
