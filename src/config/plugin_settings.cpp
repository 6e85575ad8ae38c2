#include "config/plugin_settings.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/path_list.h"
#include "config/settings_file.h"

namespace {

constexpr const char kSection[] = "QORV_PYTHON";

// Appends head + separator + item for each item of the comma list to the
// array of `count` entries; returns the new count.
std::int32_t AppendJoined(char*** array, std::int32_t count, const char* head,
                          const std::string& list, const char* separator) {
  char** items = nullptr;
  const std::int32_t itemCount = SplitList(list.c_str(), &items);
  if (itemCount > 0) {
    auto* grown = static_cast<char**>(std::realloc(*array, (count + itemCount) * sizeof(char*)));
    if (grown != nullptr) {
      *array = grown;
      for (std::int32_t k = 0; k < itemCount; ++k) {
        grown[count + k] = JoinPath(head, items[k], separator);
      }
      count += itemCount;
    }
  }
  FreeList(items, itemCount);
  return count;
}

}  // namespace

void PluginSettings::Release() {
  std::free(logDirectory);
  logDirectory = nullptr;
  FreeList(moduleDirectories, moduleDirectoryCount);
  moduleDirectories = nullptr;
  moduleDirectoryCount = 0;
  FreeList(scriptDirectories, scriptDirectoryCount);
  scriptDirectories = nullptr;
  scriptDirectoryCount = 0;
  log = LogDetail::None;
  std::free(unknownLog_);
  unknownLog_ = nullptr;
}

void ReadPluginSettings(const char* fileName, const char* separator, PluginSettings* settings) {
  settings->Release();
  SettingsFile file;
  file.Load(fileName);
  // Every value is read only after HasKey found it, so nothing is created.
  if (!file.HasKey(kSection, nullptr)) return;
  SettingsFile::SectionMap& section = file.Section(kSection);

  if (file.HasKey(kSection, "log")) {
    const std::string& value = section["log"];
    if (value == "errors") {
      settings->log = LogDetail::Errors;
    } else if (value == "requests") {
      settings->log = LogDetail::Requests;
    } else if (value != "none") {
      settings->unknownLog_ = strdup(value.c_str());
    }
  }

  if (!file.HasKey(kSection, "prefix")) return;
  const char* prefix = section["prefix"].c_str();

  if (file.HasKey(kSection, "logdir")) {
    settings->logDirectory = JoinPath(prefix, section["logdir"].c_str(), separator);
  }

  if (file.HasKey(kSection, "moduledir")) {
    char* first = JoinPath(prefix, section["moduledir"].c_str(), separator);
    settings->moduleDirectories = static_cast<char**>(std::malloc(sizeof(char*)));
    if (settings->moduleDirectories == nullptr) {
      std::free(first);
    } else {
      settings->moduleDirectories[0] = first;
      settings->moduleDirectoryCount = 1;
      if (file.HasKey(kSection, "modulesubdir")) {
        settings->moduleDirectoryCount = AppendJoined(&settings->moduleDirectories, 1, first,
                                                      section["modulesubdir"], separator);
      }
    }
  }

  if (file.HasKey(kSection, "scriptdir")) {
    settings->scriptDirectoryCount = AppendJoined(&settings->scriptDirectories, 0, prefix,
                                                  section["scriptdir"], separator);
  }
}
