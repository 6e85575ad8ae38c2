#include "config/path_list.h"
#include "config/settings_file.h"
#include "plugin/python_plugin.h"

#include <cstdlib>

namespace {
constexpr const char kSettingsFileName[] = "qorv_python.ini";
constexpr const char kSection[] = "QORV_PYTHON";

// Appends head + separator + item for each item of the comma list to the
// array of `count` entries; returns the new count.
std::int32_t AppendJoined(char*** array, std::int32_t count, const char* head,
                          const std::string& list) {
  char** items = nullptr;
  const std::int32_t itemCount = SplitList(list.c_str(), &items);
  if (itemCount > 0) {
    auto* grown = static_cast<char**>(std::realloc(*array, (count + itemCount) * sizeof(char*)));
    if (grown != nullptr) {
      *array = grown;
      for (std::int32_t k = 0; k < itemCount; ++k) {
        grown[count + k] = JoinPath(head, items[k], kPathSeparator);
      }
      count += itemCount;
    }
  }
  FreeList(items, itemCount);
  return count;
}
}  // namespace

bool PythonPlugin::LoadSettings() {
  SettingsFile settings;
  settings.Load(kSettingsFileName);
  // Every value is read only after HasKey found it, so nothing is created.
  if (!settings.HasKey(kSection, "prefix")) return true;
  SettingsFile::SectionMap& section = settings.Section(kSection);
  const char* prefix = section["prefix"].c_str();

  if (settings.HasKey(kSection, "logdir")) {
    logDirectory = JoinPath(prefix, section["logdir"].c_str(), kPathSeparator);
  }

  if (settings.HasKey(kSection, "moduledir")) {
    char* first = JoinPath(prefix, section["moduledir"].c_str(), kPathSeparator);
    moduleDirectories = static_cast<char**>(std::malloc(sizeof(char*)));
    if (moduleDirectories == nullptr) {
      std::free(first);
    } else {
      moduleDirectories[0] = first;
      moduleDirectoryCount = 1;
      if (settings.HasKey(kSection, "modulesubdir")) {
        moduleDirectoryCount =
            AppendJoined(&moduleDirectories, 1, first, section["modulesubdir"]);
      }
    }
  }

  if (settings.HasKey(kSection, "scriptdir")) {
    scriptDirectoryCount = AppendJoined(&scriptDirectories, 0, prefix, section["scriptdir"]);
  }
  return true;
}

void PythonPlugin::ReleaseSettings() {
  std::free(logDirectory);
  logDirectory = nullptr;
  FreeList(moduleDirectories, moduleDirectoryCount);
  moduleDirectories = nullptr;
  moduleDirectoryCount = 0;
  FreeList(scriptDirectories, scriptDirectoryCount);
  scriptDirectories = nullptr;
  scriptDirectoryCount = 0;
}
