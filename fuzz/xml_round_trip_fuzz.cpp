// Arbitrary bytes as an XML file, loaded in each format: path lookup with a
// fuzzed path, an attribute set, a save. A document that parsed cleanly must
// come back from its own saved form parsing cleanly as well; one loaded as
// the launcher loads it from a file without bytes beyond ASCII (every other
// character came from a reference) must read back, saved, with every
// attribute value and text as before, characters above U+00FF included, and
// without a pair of surrogate references unless the file had one.
#include <fuzzer/FuzzedDataProvider.h>

#include <expat.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "files/string_format.h"
#include "fuzz/fuzz_scratch.h"
#include "xml/xml_library.h"

namespace {

bool PlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!(c >= 'a' && c <= 'z')) return false;
  return true;
}

// Bytes from 0x80 on are characters of 8-bit output only where it is
// labelled ISO-8859-1; an Ascii load's output carries the file's label.
bool PrintableValue(const std::string& value, bool asciiOnly) {
  for (unsigned char c : value)
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (asciiOnly && c >= 0x80)) return false;
  return true;
}

// A name whose UTF-8 holds a character above U+00FF: the tree keeps 8-bit
// text, so such a character comes back as "?" and the saved name is no
// longer a name. That loss is the model's, not the writer's.
bool WideName(const XML_Char* name) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p)
    if (*p >= 0xC4) return true;
  return false;
}

void XMLCALL NoteElement(void* wide, const XML_Char* name, const XML_Char** attributes) {
  bool& any = *static_cast<bool*>(wide);
  any |= WideName(name);
  for (int i = 0; attributes[i]; i += 2) any |= WideName(attributes[i]);
}

void XMLCALL NoteInstruction(void* wide, const XML_Char* target, const XML_Char*) {
  *static_cast<bool*>(wide) |= WideName(target);
}

void XMLCALL NoteDoctype(void* wide, const XML_Char* name, const XML_Char*, const XML_Char*, int) {
  *static_cast<bool*>(wide) |= WideName(name);
}

// Whether the content, read as the loader reads it in `format`, names an
// element, attribute, instruction or doctype with a character above U+00FF.
bool HasWideNames(const std::string& content, int format) {
  const char* encoding = format == qg::Ascii     ? "ISO-8859-1"
                         : format == qg::Unicode ? "UTF-16"
                         : format == qg::Utf8    ? "UTF-8"
                                                 : nullptr;
  XML_Parser parser = XML_ParserCreate(encoding);
  if (!parser) return true;
  bool wide = false;
  XML_SetUserData(parser, &wide);
  XML_SetStartElementHandler(parser, NoteElement);
  XML_SetProcessingInstructionHandler(parser, NoteInstruction);
  XML_SetStartDoctypeDeclHandler(parser, NoteDoctype);
  XML_Parse(parser, content.data(), static_cast<int>(content.size()), 1);
  XML_ParserFree(parser);
  return wide;
}

// What a reader sees of a file: element names, attribute values and text
// (references and entities resolved), as one string.
struct Reading {
  std::string seen;
  std::string text;  // character data not yet closed by a tag
  void Flush() {
    if (!text.empty()) seen += "T" + text + "\n";
    text.clear();
  }
};

void XMLCALL ReadStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  auto* reading = static_cast<Reading*>(user);
  reading->Flush();
  reading->seen += std::string("S") + name + "\n";
  for (int i = 0; attributes[i]; i += 2)
    reading->seen += std::string("A") + attributes[i] + "=" + attributes[i + 1] + "\n";
}

void XMLCALL ReadEnd(void* user, const XML_Char*) {
  auto* reading = static_cast<Reading*>(user);
  reading->Flush();
  reading->seen += "E\n";
}

void XMLCALL ReadText(void* user, const XML_Char* text, int length) {
  static_cast<Reading*>(user)->text.append(text, static_cast<std::size_t>(length));
}

void XMLCALL ReadSkipped(void* user, const XML_Char* name, int) {
  static_cast<Reading*>(user)->text += std::string("&") + name + ";";
}

// The number a character reference at `at` names, and its length; false
// when none starts there.
bool ReferenceAt(const std::string& bytes, std::size_t at, unsigned long* code,
                 std::size_t* length) {
  if (bytes.compare(at, 2, "&#") != 0) return false;
  std::size_t i = at + 2;
  bool hex = i < bytes.size() && bytes[i] == 'x';
  if (hex) ++i;
  std::size_t digits = i;
  unsigned long value = 0;
  for (; i < bytes.size() && i - digits < 12; ++i) {
    char c = bytes[i];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) break;
    value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
  }
  if (i == digits || i >= bytes.size() || bytes[i] != ';') return false;
  *code = value;
  *length = i + 1 - at;
  return true;
}

// The file with each pair of references to UTF-16 surrogates (as the editor
// writes a character beyond U+FFFF) turned into the one reference to the
// character: bare expat, like every reader, rejects a reference to a
// surrogate.
std::string JoinSurrogatePairs(const std::string& bytes) {
  std::string joined;
  for (std::size_t i = 0; i < bytes.size();) {
    unsigned long high = 0, low = 0;
    std::size_t first = 0, second = 0;
    if (ReferenceAt(bytes, i, &high, &first) && high >= 0xD800 && high <= 0xDBFF &&
        ReferenceAt(bytes, i + first, &low, &second) && low >= 0xDC00 && low <= 0xDFFF) {
      char spelled[16];
      std::snprintf(spelled, sizeof spelled, "&#x%lX;",
                    0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
      joined += spelled;
      i += first + second;
    } else {
      joined += bytes[i++];
    }
  }
  return joined;
}

// The file as a reader that honours its declaration sees it (with `join`,
// pairs of surrogate references joined first); false when it does not parse.
bool Read(const std::string& file, bool join, std::string* seen) {
  const std::string bytes = join ? JoinSurrogatePairs(file) : file;
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) return false;
  Reading reading;
  XML_SetUserData(parser, &reading);
  XML_SetElementHandler(parser, ReadStart, ReadEnd);
  XML_SetCharacterDataHandler(parser, ReadText);
  XML_SetSkippedEntityHandler(parser, ReadSkipped);
  bool parsed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  *seen = reading.seen;
  return parsed;
}

bool AsciiOnly(const std::string& bytes) {
  for (unsigned char c : bytes)
    if (c >= 0x80) return false;
  return true;
}

// Whether the loader reads the file as 8-bit text, one character per byte
// (no zero byte among the first two, which makes it UTF-16 to the parser).
bool ReadAsBytes(const std::string& bytes) {
  return !(bytes.size() >= 1 && bytes[0] == 0) && !(bytes.size() >= 2 && bytes[1] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = (qg::InitXmlLibrary(), true);
  (void)started;
  static const int kFormats[] = {qg::Ascii, qg::Utf8, qg::Unicode, -1};
  FuzzedDataProvider in(data, size);
  int format = kFormats[in.ConsumeIntegralInRange<int>(0, 3)];
  std::uint32_t saveFlags = in.ConsumeIntegral<std::uint8_t>() & 3;
  std::string path = in.ConsumeRandomLengthString(40);
  std::string name = in.ConsumeRandomLengthString(12);
  std::string value = in.ConsumeRandomLengthString(40);
  std::string content = in.ConsumeRemainingBytesAsString();

  std::string input = qg::fuzz::WriteScratch("input.xml", content);
  std::string output = qg::fuzz::ScratchDir() + "/output.xml";
  if (!qg::LoadXmlDocument(0, input.c_str(), format)) return 0;
  bool clean = qg::GetParseStatus(0) == 0;
  // An 8-bit save of an Ascii load carries the file's own label, so it can
  // read back only as well as the file itself reads under that label (and,
  // in a file with bytes beyond ASCII, entities can hide references to the
  // characters 0x80-0xFF, which then come into the tree as bytes beside the
  // file's own).
  bool asciiLoad = format == qg::Ascii;
  bool asciiFile = AsciiOnly(content) && ReadAsBytes(content);
  if (asciiLoad && !asciiFile && content.find("<!ENTITY") != std::string::npos) clean = false;
  if (asciiLoad && clean) {
    clean = qg::LoadXmlDocument(1, input.c_str(), -1) && qg::GetParseStatus(1) == 0;
    qg::FreeXmlDocument(1);
  }
  // No character lost: the saved file reads as the file did. A file
  // without a pair of surrogate references gets none from the save (a
  // character beyond U+FFFF from its doctype is one reference), so its
  // saved form reads as it is.
  std::string before, after;
  if (asciiLoad && asciiFile && clean && Read(content, true, &before)) {
    if (qg::SaveXmlDocument(0, output.c_str(), 0) != 1) __builtin_trap();
    std::string saved = qg::fuzz::ReadScratch(output);
    if (!AsciiOnly(saved)) __builtin_trap();
    bool pairs = JoinSurrogatePairs(content) != content;
    if (!Read(saved, pairs, &after) || after != before) __builtin_trap();
  }
  qg::XmlNode* node = qg::FindNodeByPath(qg::GetMainNode(0), path.c_str());
  qg::SetNodeAttribute(node, name.c_str(), value.c_str());
  bool saved = qg::SaveXmlDocument(0, output.c_str(), saveFlags) == 1;
  qg::FreeXmlDocument(0);

  // What we write from a clean document must read back cleanly, in the
  // format it was written in (the declaration names it unless left out).
  bool attributeSafe = !node || (PlainName(name) && PrintableValue(value, asciiLoad));
  if (clean && saved && attributeSafe && !(saveFlags & qg::WithoutDeclaration) && format != -1 &&
      !HasWideNames(content, format)) {
    if (!qg::LoadXmlDocument(1, output.c_str(), -1)) __builtin_trap();
    if (qg::GetParseStatus(1) != 0) __builtin_trap();
    qg::FreeXmlDocument(1);
  }
  return 0;
}
