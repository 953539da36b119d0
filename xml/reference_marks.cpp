#include "xml/reference_marks.h"

#include <cstdint>
#include <cstring>

#include "system/platform.h"
#include "xml/references.h"

namespace qg {

namespace {

bool IsMark(char32_t c) { return c >= kSingleMark && c <= 0x10FFFF; }

// A reference longer than this is left to the parser as it is.
constexpr std::size_t kLongestSpelling = 40;
// What a chunk may grow by: each reference of 6 bytes or more becomes at
// most two of 10 bytes.
constexpr std::size_t kGrowth = 4;

// The reference at `p` (n bytes available), read as far as kLongestSpelling
// bytes, so that where the chunks end does not change what is found.
ReferenceRead ReferenceAt(const char* p, std::size_t n, char32_t* code, std::size_t* length) {
  if (n < kLongestSpelling) return ReadReference(p, n, code, length);
  ReferenceRead found = ReadReference(p, kLongestSpelling, code, length);
  return found == ReferenceRead::Incomplete ? ReferenceRead::None : found;
}

// Position of `pattern` in data[from, n), or n.
std::size_t FindText(const char* data, std::size_t from, std::size_t n, const char* pattern) {
  std::size_t size = std::strlen(pattern);
  while (from + size <= n) {
    const void* hit = std::memchr(data + from, pattern[0], n - from - size + 1);
    if (!hit) break;
    std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    if (std::memcmp(data + at, pattern, size) == 0) return at;
    from = at + 1;
  }
  return n;
}

bool StartsWith(const char* data, std::size_t n, const char* prefix) {
  std::size_t size = std::strlen(prefix);
  return n >= size && std::memcmp(data, prefix, size) == 0;
}

}  // namespace

bool MarkReader::Read(char32_t parsed, char32_t* code, Spelling* spelling) {
  char32_t mark = pending_;
  pending_ = 0;
  if (mark == kSingleMark || mark == kPairMark) {
    *code = parsed;
    *spelling = mark == kSingleMark ? Spelling::Single : Spelling::Pair;
    return true;
  }
  if (parsed == kSingleMark || parsed == kPairMark) {
    pending_ = parsed;
    return false;
  }
  *code = parsed;
  if (parsed <= 0xFF) {
    *spelling = Spelling::Own;
  } else if (parsed >= kLoneMarks) {
    *code = parsed - kLoneMarks + 0xD800;
    *spelling = Spelling::Lone;
  } else if (parsed >= kLatinMarks + 0x80 && parsed <= kLatinMarks + 0xFF) {
    *code = parsed - kLatinMarks;
    *spelling = Spelling::Single;
  } else {
    // Above U+00FF without a mark: a single reference, in the content or in
    // the doctype (a pair always comes with its mark).
    *spelling = Spelling::Single;
  }
  return true;
}

ReferenceRewriter::~ReferenceRewriter() {
  if (in_) Sys().HeapFree(in_);
  if (out_) Sys().HeapFree(out_);
}

char* ReferenceRewriter::ChunkBuffer(std::size_t size) {
  // What was held back goes to the front, now that the parser has read the
  // output (which may be the front of this buffer itself).
  if (kept_ > 0 && held_ > 0) std::memmove(in_, in_ + kept_, held_);
  kept_ = 0;
  std::size_t need = held_ + size;
  if (need > inCapacity_) {
    void* grown = in_ ? Sys().HeapReAlloc(in_, need, false) : Sys().HeapAlloc(need, false);
    if (!grown) return nullptr;
    in_ = static_cast<char*>(grown);
    inCapacity_ = need;
  }
  return in_ + held_;
}

void ReferenceRewriter::Copy(const char* data, std::size_t from, std::size_t to) {
  std::memcpy(out_ + outSize_, data + from, to - from);
  outSize_ += to - from;
}

void ReferenceRewriter::PutReference(char32_t code) {
  changed_ = true;
  outSize_ += qg::PutReference(code, out_ + outSize_);
}

bool ReferenceRewriter::Rewrite(std::size_t size, bool last, bool marking) {
  std::size_t n = held_ + size;
  std::size_t need = n * kGrowth + 64;
  if (need > outCapacity_) {
    if (out_) Sys().HeapFree(out_);
    out_ = static_cast<char*>(Sys().HeapAlloc(need, false));
    outCapacity_ = out_ ? need : 0;
    if (!out_) return false;
  }
  outSize_ = 0;
  changed_ = false;
  kept_ = Scan(in_, n, last, marking);
  held_ = n - kept_;
  if (!changed_) outSize_ = kept_;
  return true;
}

// Inside the doctype, from `i`: where it ends (the state back to Content),
// or n when it goes on beyond the data.
std::size_t ReferenceRewriter::ScanDoctype(const char* data, std::size_t i, std::size_t n) {
  for (; i < n; ++i) {
    char c = data[i];
    if (inDoctypeComment_) {
      if (c == '>' && i >= 2 && data[i - 1] == '-' && data[i - 2] == '-') inDoctypeComment_ = false;
    } else if (quote_) {
      if (c == quote_) quote_ = 0;
    } else if (c == '"' || c == '\'') {
      quote_ = c;
    } else if (c == '-' && i >= 3 && StartsWith(data + i - 3, 4, "<!--")) {
      inDoctypeComment_ = true;
    } else if (c == '[') {
      inSubset_ = true;
    } else if (c == ']') {
      inSubset_ = false;
    } else if (c == '>' && !inSubset_) {
      state_ = State::Content;
      return i + 1;
    }
  }
  return n;
}

// Rewrites data[0, n) into the output up to the position it returns; what
// lies beyond is held back.
std::size_t ReferenceRewriter::Scan(const char* data, std::size_t n, bool last, bool marking) {
  std::size_t i = 0, copied = 0;
  // The next '&', '!' and '?' at or after where each was last looked for
  // (n when there is none); kUnknown before the first look.
  constexpr std::size_t kUnknown = SIZE_MAX;
  std::size_t nextAmp = kUnknown, nextBang = kUnknown, nextQuest = kUnknown;
  auto next = [&](std::size_t& found, char c, std::size_t from) {
    if (found != kUnknown && found >= from) return found;
    const void* hit = std::memchr(data + from, c, n - from);
    found = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : n;
    return found;
  };
  // A '!' or '?' before this is known not to follow a '<'.
  std::size_t markFrom = 1;
  // Without a reference rewritten the output is the input itself.
  auto finish = [&](std::size_t at) {
    if (changed_) Copy(data, copied, at);
    return at;
  };
  while (i < n) {
    switch (state_) {
      case State::Comment:
      case State::CData:
      case State::Instruction: {
        const char* end = state_ == State::Comment ? "-->" : state_ == State::CData ? "]]>" : "?>";
        std::size_t at = FindText(data, i, n, end);
        if (at == n) {
          // The end's first bytes may close this chunk.
          std::size_t tail = std::strlen(end) - 1;
          return finish(last ? n : n - i < tail ? i : n - tail);
        }
        i = at + std::strlen(end);
        state_ = State::Content;
        continue;
      }
      case State::Doctype:
        i = ScanDoctype(data, i, n);
        continue;
      case State::Content:
        break;
    }
    // Start and end tags change nothing here: only a '<' followed by '!' or
    // '?' does, so those two are looked for rather than every '<'.
    if (markFrom < i + 1) markFrom = i + 1;
    std::size_t tag = n;
    while (markFrom < n) {
      std::size_t bang = next(nextBang, '!', markFrom);
      std::size_t quest = next(nextQuest, '?', markFrom);
      std::size_t q = bang < quest ? bang : quest;
      if (q >= n) break;
      if (data[q - 1] == '<') {
        tag = q - 1;
        break;
      }
      markFrom = q + 1;
    }
    std::size_t amp = next(nextAmp, '&', i);
    std::size_t p = amp < tag ? amp : tag;
    if (p == n) {
      // A '<' that closes the chunk may open a comment or the like.
      if (!last && data[n - 1] == '<') return finish(n - 1);
      break;
    }
    if (p == tag) {
      // Only "<!" starts can be told apart by more than two bytes.
      if (!last && data[p + 1] == '!' && n - p < 9) return finish(p);
      const char* at = data + p;
      if (StartsWith(at, n - p, "<!--")) {
        state_ = State::Comment;
        i = p + 4;
      } else if (StartsWith(at, n - p, "<![CDATA[")) {
        state_ = State::CData;
        i = p + 9;
      } else if (StartsWith(at, n - p, "<?")) {
        state_ = State::Instruction;
        i = p + 2;
      } else if (StartsWith(at, n - p, "<!DOCTYPE")) {
        state_ = State::Doctype;
        quote_ = 0;
        inSubset_ = inDoctypeComment_ = false;
        i = p + 9;
      } else {
        i = p + 1;
      }
      continue;
    }
    char32_t code = 0, low = 0;
    std::size_t length = 0, lowLength = 0;
    ReferenceRead found = ReferenceAt(data + p, n - p, &code, &length);
    if (found == ReferenceRead::Incomplete && !last) return finish(p);
    if (found != ReferenceRead::Found) {
      i = p + 1;
      continue;
    }
    bool pair = false;
    if (IsHighSurrogate(code)) {
      std::size_t q = p + length;
      if (q < n && data[q] == '&') {
        ReferenceRead next = ReferenceAt(data + q, n - q, &low, &lowLength);
        if (next == ReferenceRead::Incomplete && !last) return finish(p);
        pair = next == ReferenceRead::Found && IsLowSurrogate(low);
      } else if (q == n && !last) {
        return finish(p);
      }
    }
    std::size_t end = p + length + (pair ? lowLength : 0);
    i = end;
    bool lone = !pair && (IsHighSurrogate(code) || IsLowSurrogate(code));
    char32_t joined = pair ? JoinSurrogates(code, low) : code;
    if (!marking) {
      if (!pair && !lone) continue;
      Copy(data, copied, p);
      PutReference(pair ? joined : 0xFFFD);
      copied = end;
      continue;
    }
    // A single reference beyond U+FFFF goes as it is: the parser gives such
    // a character without a mark also from the doctype, where nothing is
    // rewritten, and it is written back as one reference either way.
    if (!pair && !lone && (code < 0x80 || (code > 0xFF && !IsMark(code)))) continue;
    Copy(data, copied, p);
    if (lone) {
      PutReference(kLoneMarks + (code - 0xD800));
    } else if (pair) {
      PutReference(kPairMark);
      PutReference(joined);
    } else if (code <= 0xFF) {
      PutReference(kLatinMarks + code);
    } else {
      PutReference(kSingleMark);  // a reference to one of the marks themselves
      PutReference(code);
    }
    copied = end;
  }
  return finish(n);
}

}  // namespace qg
