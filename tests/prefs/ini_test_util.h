// Helpers shared by the preference file tests.
#pragma once

#include <string>
#include <vector>

#include "prefs/ini_model.h"
#include "system/platform.h"
#include "tests/support/platform_scope.h"

namespace qg::testing {

// The loaded entries, one text each: "[name" for a header, ";text" for a
// comment and "key|value" for a key line.
inline std::vector<std::string> EntryTexts() {
  std::vector<std::string> texts;
  for (const IniEntry* entry = TheIniFile().first; entry; entry = entry->next) {
    switch (entry->kind) {
      case GroupHeader:
        texts.push_back(std::string("[") + entry->text);
        break;
      case Comment:
        texts.push_back(std::string(";") + entry->text);
        break;
      case KeyValue:
        texts.push_back(std::string(entry->key) + "|" + entry->text);
        break;
    }
  }
  return texts;
}

}  // namespace qg::testing
