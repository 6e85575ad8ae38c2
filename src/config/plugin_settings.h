// The plugin's settings: section [QORV_PYTHON] of its settings file turned
// into directory lists, the log detail, the time limit and the Python
// environment, with a warning for each thing in the file that looks like a
// mistake.
#ifndef QORV_CONFIG_PLUGIN_SETTINGS_H
#define QORV_CONFIG_PLUGIN_SETTINGS_H

#include <string>
#include <string_view>
#include <vector>

// What the plugin writes into its log file.
enum class LogDetail {
  None,      // nothing: the file stays empty
  Errors,    // each failure reason and each Python traceback
  Requests,  // that, and a line for every request
};

// The longest "timeout" that is taken, in seconds: a year. Anything longer is
// surely a slip of the keyboard rather than a limit.
constexpr double kMaxTimeoutSeconds = 365.0 * 24 * 60 * 60;

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
  // One line per thing that looks like a mistake, in file order, each naming the file and line where
  // there is one (no "qorv_python: " prefix: the caller adds it). Also the unknown log/timeout values.
  std::vector<std::string> warnings;
};

// The file Open reads: $QORV_PYTHON_SETTINGS when set and not empty, else "qorv_python.ini" in the
// current directory; made absolute (relative to the current directory).
std::string SettingsFilePath();

// Reads section [QORV_PYTHON] of `path`, joining paths with `separator`. Never throws on bad input and
// never reports by itself: everything worth saying goes into `warnings`.
//
// A file that cannot be read gives fileRead=false and a warning with the reason, except a missing
// file while $QORV_PYTHON_SETTINGS is unset or empty: the default file is optional. Without a
// "prefix" no directory and no "pythonpath" entry is set. The warnings never change what is read.
PluginSettings ReadPluginSettings(const std::string& path, const char* separator);

// The same over the text of a settings file held in memory; `file` is the name the warnings give
// and is kept as it is. fileRead is true.
PluginSettings ReadPluginSettingsText(std::string_view text, const std::string& file,
                                      const char* separator);

#endif  // QORV_CONFIG_PLUGIN_SETTINGS_H
