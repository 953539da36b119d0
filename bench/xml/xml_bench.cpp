// Loading and saving XML documents, side by side with the bare parser and
// three other XML libraries, on the same files in one run; and the peak heap
// of a load against the file's size.
//
//   xml_bench [file ...]
//   xml_bench --once load|parse file ...
//
// With --once it only loads each file once (load), or only parses it once
// with the bare parser (parse): runs to count under
// `valgrind --tool=callgrind`, whose instruction counts, unlike times, do
// not depend on what else the machine runs.
// Without arguments it measures the editor configuration corpus, the largest
// XML file under /usr/share and a generated document of about 20 MB.
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <tinyxml2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "tests/xml/recording_platforms.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace fs = std::filesystem;
using qg::testing::ForwardingPlatform;
using qg::testing::HeapCountingPlatform;
using qg::testing::PlatformScope;

namespace {

// The fastest of `runs` timings of `work`, in milliseconds; `after` runs
// untimed after each (to release what the work made).
double Best(
    int runs, const std::function<void()>& work, const std::function<void()>& after = [] {}) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    auto end = std::chrono::steady_clock::now();
    after();
    best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
  }
  return best;
}

// The floor: the parser reading the file through the platform in the same
// 16384-byte chunks into its own buffer, every callback registered empty.
void XMLCALL NoStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL NoEnd(void*, const XML_Char*) {}
void XMLCALL NoText(void*, const XML_Char*, int) {}
void XMLCALL NoComment(void*, const XML_Char*) {}
void XMLCALL NoCdata(void*) {}
void XMLCALL NoInstruction(void*, const XML_Char*, const XML_Char*) {}
void XMLCALL NoDoctype(void*, const XML_Char*, const XML_Char*, const XML_Char*, int) {}
void XMLCALL NoDeclaration(void*, const XML_Char*, const XML_Char*, int) {}

bool BareParse(const std::string& path) {
  qg::Platform& sys = qg::Sys();
  qg::Handle file = sys.CreateFileA(path.c_str(), qg::GENERIC_READ_ACCESS, qg::FILE_SHARE_READ_MODE,
                                    qg::Creation::OpenExisting);
  std::uint64_t size = 0;
  if (!file || !sys.GetFileSize(file, &size)) return false;
  XML_Parser parser = XML_ParserCreate("ISO-8859-1");
  XML_SetElementHandler(parser, NoStart, NoEnd);
  XML_SetCharacterDataHandler(parser, NoText);
  XML_SetDefaultHandlerExpand(parser, NoText);
  XML_SetCommentHandler(parser, NoComment);
  XML_SetCdataSectionHandler(parser, NoCdata, NoCdata);
  XML_SetDoctypeDeclHandler(parser, NoDoctype, NoCdata);
  XML_SetXmlDeclHandler(parser, NoDeclaration);
  XML_SetProcessingInstructionHandler(parser, NoInstruction);
  bool ok = true;
  for (std::uint64_t total = 0; ok && total < size;) {
    std::uint32_t chunk = static_cast<std::uint32_t>(std::min<std::uint64_t>(16384, size - total));
    void* buffer = XML_GetBuffer(parser, static_cast<int>(chunk));
    std::uint32_t read = 0;
    ok = buffer && sys.ReadFile(file, buffer, chunk, &read) && read > 0;
    total += read;
    ok = ok && XML_ParseBuffer(parser, static_cast<int>(read), total >= size) != XML_STATUS_ERROR;
  }
  XML_ParserFree(parser);
  sys.CloseHandle(file);
  return ok;
}

// Keeps everything of the native platform but makes FlushFileBuffers free,
// to show the serializer's own cost apart from the disk's.
class NoSyncPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool FlushFileBuffers(qg::Handle) override { return true; }
  bool MoveFileReplace(const char* source, const char* target) override {
    return std::rename(source, target) == 0;
  }
};

std::string Generate(const fs::path& path, std::size_t target) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog>\n";
  std::size_t written = 0;
  for (int i = 0; written < target; ++i) {
    std::string record =
        "  <record id=\"" + std::to_string(i) + "\" kind=\"k" + std::to_string(i % 7) +
        "\" state=\"active\">\n    <title>Item &amp; number " + std::to_string(i) +
        "</title>\n    <price currency=\"EUR\">" + std::to_string(i % 1000) +
        ".95</price>\n    <!-- checked -->\n    <notes>Line one of the notes,\n      line two "
        "&lt;with markup&gt;.</notes>\n    <empty/>\n  </record>\n";
    out << record;
    written += record.size();
  }
  out << "</catalog>\n";
  return path.string();
}

fs::path LargestSharedXml() {
  fs::path best;
  std::uintmax_t bestSize = 0;
  std::error_code error;
  fs::recursive_directory_iterator it("/usr/share", fs::directory_options::skip_permission_denied,
                                      error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code statError;
    if (it->path().extension() != ".xml" || !it->is_regular_file(statError)) continue;
    std::uintmax_t size = it->file_size(statError);
    if (!statError && size > bestSize) {
      bestSize = size;
      best = it->path();
    }
  }
  return best;
}

void Measure(const std::string& path, const fs::path& scratch) {
  std::uintmax_t size = fs::file_size(path);
  int runs = static_cast<int>(std::clamp<std::uintmax_t>((200u << 20) / (size + 1), 5, 200));
  std::string out = (scratch / "out.xml").string();

  // Peak heap of one load, counted from a released library.
  qg::ReleaseXmlLibrary();
  std::int64_t peak = 0;
  {
    HeapCountingPlatform counting(qg::NativePlatform());
    PlatformScope scope(counting);
    std::int64_t before = counting.LiveBytes();
    counting.ResetPeak();
    if (!qg::LoadXmlDocument(0, path.c_str(), qg::Ascii) || qg::GetParseStatus(0) != 0) {
      std::printf("%s: does not load (status %d)\n", path.c_str(), qg::GetParseStatus(0));
    }
    peak = counting.PeakBytes() - before;
    qg::FreeXmlDocument(0);
    qg::ReleaseXmlLibrary();
  }

  double floor = Best(runs, [&] { BareParse(path); });
  double load = Best(
      runs, [&] { qg::LoadXmlDocument(0, path.c_str(), qg::Ascii); },
      [] { qg::FreeXmlDocument(0); });
  qg::LoadXmlDocument(0, path.c_str(), qg::Ascii);
  double save = Best(runs, [&] { qg::SaveXmlDocument(0, out.c_str()); });
  double saveNoSync;
  {
    NoSyncPlatform noSync(qg::NativePlatform());
    PlatformScope scope(noSync);
    saveNoSync = Best(runs, [&] { qg::SaveXmlDocument(0, out.c_str()); });
  }
  qg::FreeXmlDocument(0);

  double tinyLoad, tinySave;
  {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    tinyLoad = Best(runs, [&] { document.LoadFile(path.c_str()); });
    tinySave = Best(runs, [&] { document.SaveFile(out.c_str(), true); });
  }
  double pugiLoad, pugiSave;
  {
    pugi::xml_document document;
    unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_comments |
                       pugi::parse_declaration | pugi::parse_pi | pugi::parse_doctype;
    pugiLoad = Best(runs, [&] { document.load_file(path.c_str(), options); });
    pugiSave = Best(runs, [&] { document.save_file(out.c_str(), "", pugi::format_raw); });
  }
  double xml2Load, xml2Save;
  {
    xmlDocPtr document = nullptr;
    xml2Load = Best(
        runs, [&] { document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET); },
        [&] {
          xmlFreeDoc(document);
          document = nullptr;
        });
    document = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    xml2Save = Best(runs, [&] { xmlSaveFile(out.c_str(), document); });
    xmlFreeDoc(document);
  }
  fs::remove(out);

  std::printf("\n%s (%.1f KiB, best of %d)\n", path.c_str(), size / 1024.0, runs);
  std::printf(
      "  load   expat floor %9.3f ms | ours %9.3f ms (%.2fx floor) | tinyxml2 %9.3f | "
      "pugixml %9.3f | libxml2 %9.3f\n",
      floor, load, load / floor, tinyLoad, pugiLoad, xml2Load);
  std::printf(
      "  save   ours %9.3f ms (%9.3f without fsync) | tinyxml2 %9.3f (%.2fx ours) | "
      "pugixml %9.3f (%.2fx) | libxml2 %9.3f (%.2fx)\n",
      save, saveNoSync, tinySave, tinySave / saveNoSync, pugiSave, pugiSave / saveNoSync, xml2Save,
      xml2Save / saveNoSync);
  std::printf("  heap   peak of a load %.1f KiB = %.2fx the file\n", peak / 1024.0,
              static_cast<double>(peak) / static_cast<double>(size));
}

}  // namespace

int main(int argc, char** argv) {
  qg::InitXmlLibrary();
  if (argc >= 3 && std::string(argv[1]) == "--once") {
    bool load = std::string(argv[2]) == "load";
    int status = 0;
    for (int i = 3; i < argc; ++i) {
      bool ok = load ? qg::LoadXmlDocument(0, argv[i], qg::Ascii) && qg::GetParseStatus(0) == 0
                     : BareParse(argv[i]);
      if (!ok) {
        std::printf("%s: does not load\n", argv[i]);
        status = 1;
      }
      if (load) qg::FreeXmlDocument(0);
    }
    qg::ReleaseXmlLibrary();
    return status;
  }
  xmlInitParser();
  fs::path scratch = fs::temp_directory_path() / "quillgate-xml-bench";
  fs::create_directories(scratch);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) files.push_back(argv[i]);
  if (files.empty()) {
    const char* source = std::getenv("QG_SOURCE_DIR");
    fs::path corpus =
        fs::path(source ? source : QG_DEFAULT_SOURCE_DIR) / ".." / "shared" / "corpus" / "npp";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(corpus, error)) {
      files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    fs::path shared = LargestSharedXml();
    if (!shared.empty()) files.push_back(shared.string());
    files.push_back(Generate(scratch / "generated.xml", 20u << 20));
  }
  for (const std::string& file : files) Measure(file, scratch);
  qg::ReleaseXmlLibrary();
  xmlCleanupParser();
  fs::remove_all(scratch);
  return 0;
}
