#include "config/plugin_settings.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/path_list.h"
#include "config/settings_file.h"

namespace {

constexpr const char kSection[] = "QORV_PYTHON";

std::vector<std::string> JoinedItems(const std::string& head, const std::string& list,
                                     const char* separator) {
  std::vector<std::string> joined;
  char** items = nullptr;
  const std::int32_t count = SplitList(list.c_str(), &items);
  for (std::int32_t k = 0; k < count; ++k) joined.push_back(head + separator + items[k]);
  FreeList(items, count);
  return joined;
}

}  // namespace

std::string SettingsFilePath() {
  const char* chosen = std::getenv("QORV_PYTHON_SETTINGS");
  return chosen != nullptr && *chosen != '\0' ? chosen : "qorv_python.ini";
}

PluginSettings ReadPluginSettings(const std::string& path, const char* separator) {
  PluginSettings settings;
  settings.file = path;
  SettingsFile file;
  file.Load(path.c_str());
  if (!file.HasKey(kSection, nullptr)) return settings;
  SettingsFile::SectionMap& section = file.Section(kSection);

  if (file.HasKey(kSection, "log")) {
    const std::string& value = section["log"];
    if (value == "errors") {
      settings.log = LogDetail::Errors;
    } else if (value == "requests") {
      settings.log = LogDetail::Requests;
    } else if (value != "none") {
      settings.warnings.push_back("unknown value '" + value +
                                  "' of the setting log (none, errors or requests); nothing is logged");
    }
  }
  if (file.HasKey(kSection, "timeout")) settings.timeoutSeconds = std::atof(section["timeout"].c_str());

  if (!file.HasKey(kSection, "prefix")) return settings;
  const std::string prefix = section["prefix"];
  if (file.HasKey(kSection, "logdir")) {
    settings.logDirectorySet = true;
    settings.logDirectory = prefix + separator + section["logdir"];
  }
  if (file.HasKey(kSection, "moduledir")) {
    settings.moduleDirectories.push_back(prefix + separator + section["moduledir"]);
    if (file.HasKey(kSection, "modulesubdir")) {
      for (std::string& item : JoinedItems(settings.moduleDirectories[0], section["modulesubdir"], separator)) {
        settings.moduleDirectories.push_back(std::move(item));
      }
    }
  }
  if (file.HasKey(kSection, "scriptdir")) {
    settings.scriptDirectories = JoinedItems(prefix, section["scriptdir"], separator);
  }
  if (file.HasKey(kSection, "pythonpath")) {
    settings.pythonPath = JoinedItems(prefix, section["pythonpath"], separator);
  }
  return settings;
}
