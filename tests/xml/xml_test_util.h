// Shared pieces of the XML tests: a fixture with a temporary folder and the
// library started, and helpers to look at nodes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace qg::testing {

inline std::string TextOf(const XmlNode* node) {
  return node && node->text ? std::string(node->text) : std::string();
}

inline std::vector<XmlNode*> ChildrenOf(const XmlNode* node) {
  std::vector<XmlNode*> children;
  for (XmlNode* child = node ? node->firstChild : nullptr; child; child = child->nextSibling) {
    children.push_back(child);
  }
  return children;
}

inline std::string AttributeOf(const XmlNode* node, const std::string& name) {
  for (int i = 0; i < node->attributeCount; ++i) {
    if (name == node->attributes[2 * i]) return node->attributes[2 * i + 1];
  }
  return "<missing>";
}

// The 8-bit text as UTF-16 little-endian bytes, one unit per character.
inline std::string Widen(const std::string& narrow) {
  std::string wide;
  for (char c : narrow) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

class XmlFixture : public ::testing::Test {
 protected:
  void SetUp() override { InitXmlLibrary(); }
  void TearDown() override { FreeXmlDocument(-1); }

  // Writes `bytes` as a file and loads it under `number`.
  XmlDocument* Load(const std::string& bytes, int format = Ascii, ObjectNumber number = 0) {
    std::string path = dir.Write("in.xml", bytes);
    return reinterpret_cast<XmlDocument*>(LoadXmlDocument(number, path.c_str(), format));
  }
  // Saves document `number` and gives the file's bytes ("<failed>" on 0).
  std::string Save(ObjectNumber number = 0, std::uint32_t flags = 0) {
    std::string path = dir.Path("out.xml");
    if (!SaveXmlDocument(number, path.c_str(), flags)) return "<failed>";
    return dir.Read("out.xml");
  }

  TempDir dir;
};

}  // namespace qg::testing
