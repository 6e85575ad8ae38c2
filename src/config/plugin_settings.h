// The plugin's settings: section [QORV_PYTHON] of its settings file turned
// into directory lists and the log detail.
#ifndef QORV_CONFIG_PLUGIN_SETTINGS_H
#define QORV_CONFIG_PLUGIN_SETTINGS_H

#include <string>
#include <vector>

// What the plugin writes into its log file.
enum class LogDetail {
  None,      // nothing: the file stays empty
  Errors,    // each failure reason and each Python traceback
  Requests,  // that, and a line for every request
};

struct PluginSettings {
  // The settings file that was looked for, as an absolute path, and whether it could be read.
  std::string file;
  bool fileRead = false;
  bool logDirectorySet = false;                 // "logdir" with "prefix"
  std::string logDirectory;                     // prefix, separator, logdir
  std::vector<std::string> moduleDirectories;   // "moduledir", then one per "modulesubdir" item
  std::vector<std::string> scriptDirectories;   // one per "scriptdir" item, searched in order
  LogDetail log = LogDetail::None;
  double timeoutSeconds = 0;                    // "timeout"; 0: no limit
  std::string venv;                             // "venv", made absolute; empty: none
  std::vector<std::string> pythonPath;          // "pythonpath" items joined below the prefix, in order
  // One line per thing that looks like a mistake, in file order.
  std::vector<std::string> warnings;
};

// The file Open reads: $QORV_PYTHON_SETTINGS when set and not empty, else
// "qorv_python.ini" in the current directory; made absolute.
std::string SettingsFilePath();

// Reads section [QORV_PYTHON] of `path`, joining paths with `separator`.
PluginSettings ReadPluginSettings(const std::string& path, const char* separator);

#endif  // QORV_CONFIG_PLUGIN_SETTINGS_H
