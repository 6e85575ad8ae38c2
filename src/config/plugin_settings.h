// The plugin's settings: section [QORV_PYTHON] of its settings file turned
// into directory lists and the log detail.
#ifndef QORV_CONFIG_PLUGIN_SETTINGS_H
#define QORV_CONFIG_PLUGIN_SETTINGS_H

#include <cstdint>

// What the plugin writes into its log file.
enum class LogDetail {
  None,      // nothing: the file stays empty
  Errors,    // each failure reason and each Python traceback
  Requests,  // that, and a line for every request
};

// The texts are malloc'd and owned here; the lists are arrays of them with
// their counts beside.
struct PluginSettings {
  PluginSettings() = default;
  PluginSettings(const PluginSettings&) = delete;
  PluginSettings& operator=(const PluginSettings&) = delete;
  ~PluginSettings() { Release(); }

  // Frees everything and goes back to nothing set.
  void Release();

  char* logDirectory = nullptr;  // "prefix" + "logdir" (read, not used further)
  char** moduleDirectories = nullptr;  // "moduledir", then one per "modulesubdir" item
  std::int32_t moduleDirectoryCount = 0;
  char** scriptDirectories = nullptr;  // one per "scriptdir" item, searched in order
  std::int32_t scriptDirectoryCount = 0;
  LogDetail log = LogDetail::None;
  // The "log" value when it is none of none, errors and requests.
  const char* unknownLogValue() const { return unknownLog_; }

 private:
  friend void ReadPluginSettings(const char*, const char*, PluginSettings*);
  char* unknownLog_ = nullptr;
};

// Reads section [QORV_PYTHON] of the settings file `fileName` into *settings
// (released first), joining paths with `separator`. A missing file, section
// or "prefix" leaves the directories unset; nothing is ever reported.
void ReadPluginSettings(const char* fileName, const char* separator, PluginSettings* settings);

#endif  // QORV_CONFIG_PLUGIN_SETTINGS_H
