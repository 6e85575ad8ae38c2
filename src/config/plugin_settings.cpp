#include "config/plugin_settings.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "config/current_directory.h"
#include "config/path_list.h"
#include "config/settings_file.h"

namespace {

constexpr const char kSection[] = "QORV_PYTHON";
constexpr const char kFileVariable[] = "QORV_PYTHON_SETTINGS";
constexpr const char kDefaultFileName[] = "qorv_python.ini";

// The keys of section [QORV_PYTHON], in the order the README lists them.
struct KnownKey {
  const char* name;
  bool belowPrefix;  // a path (or list of paths) joined below "prefix": nothing without it
  bool onePath;      // the whole value is one path, so white space at its start is part of it
};

const KnownKey kKnownKeys[] = {
    {"prefix", false, true},   {"scriptdir", true, false},    {"logdir", true, true},
    {"moduledir", true, true}, {"modulesubdir", true, false}, {"log", false, false},
    {"timeout", false, false}, {"venv", false, true},         {"pythonpath", true, false},
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Control bytes as \xNN, so that each warning stays one printable line
// whatever the file holds. Bytes from 0x80 on pass: they are UTF-8 text.
std::string Escape(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
      continue;
    }
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
  return out;
}

std::string Quote(std::string_view text) { return "'" + Escape(text) + "'"; }

// Collects warnings with the line each is about (0: the file as a whole)
// and gives them back in file order.
class Warnings {
 public:
  explicit Warnings(std::string file) : file_(Escape(file)) {}

  void Add(std::size_t line, const std::string& text) {
    found_.emplace_back(line, line == 0 ? text : file_ + ":" + std::to_string(line) + ": " + text);
  }

  std::vector<std::string> InFileOrder() {
    std::stable_sort(found_.begin(), found_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> texts;
    texts.reserve(found_.size());
    for (auto& [line, text] : found_) texts.push_back(std::move(text));
    return texts;
  }

 private:
  std::string file_;
  std::vector<std::pair<std::size_t, std::string>> found_;
};

// "prefix, scriptdir, ...": the names, for a warning about a key that is none of them.
std::string KnownKeyList() {
  std::string list;
  for (const KnownKey& key : kKnownKeys) list += std::string(list.empty() ? "" : ", ") + key.name;
  return list;
}

const KnownKey* FindKnownKey(std::string_view name) {
  for (const KnownKey& key : kKnownKeys) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

// A key no setting uses. When it is a setting's name with trailing blanks or
// in other letter case, the warning says which and how to write it.
std::string UnknownKeyWarning(const std::string& key) {
  std::string_view trimmed(key);
  while (!trimmed.empty() && IsBlank(trimmed.back())) trimmed.remove_suffix(1);
  const KnownKey* meant = nullptr;
  for (const KnownKey& known : kKnownKeys) {
    if (EqualIgnoringCase(trimmed, known.name)) meant = &known;
  }
  if (meant == nullptr) {
    return Quote(key) + " is not a setting and is ignored; the settings are " + KnownKeyList();
  }
  std::string why;
  if (trimmed.size() != key.size()) why = "spaces around '=' count";
  if (trimmed != meant->name) {
    why += why.empty() ? "" : " and ";
    why += "setting names are case-sensitive";
  }
  return Quote(key) + " is not a setting: " + why + "; write '" + meant->name + "=...'";
}

// "timeout": a decimal number of seconds (digits with at most one '.'), at
// most kMaxTimeoutSeconds. Read without the locale, whose decimal point may
// be a comma.
bool ParseSeconds(std::string_view text, double* seconds) {
  bool digit = false;
  bool point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;  // signs, exponents, "inf", "nan", blanks, anything else
    }
  }
  if (!digit) return false;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *seconds, std::chars_format::fixed);
  return result.ec == std::errc() && result.ptr == end && *seconds <= kMaxTimeoutSeconds;
}

// An empty "timeout" means no limit, as an absent one does. False, leaving
// *seconds alone, for a value that is not a number of seconds.
bool ReadTimeout(std::string_view value, double* seconds) {
  if (value.empty()) return true;
  double parsed = 0;
  if (!ParseSeconds(value, &parsed)) return false;
  *seconds = parsed;
  return true;
}

bool IsAbsolute(std::string_view path) {
#if defined(_WIN32)
  const auto isSlash = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 2 && isSlash(path[0]) && isSlash(path[1])) return true;  // \\server\share
  return path.size() >= 3 && path[1] == ':' && isSlash(path[2]) && LowerAscii(path[0]) >= 'a' &&
         LowerAscii(path[0]) <= 'z';
#else
  return !path.empty() && path[0] == '/';
#endif
}

std::string Join(const std::string& head, const std::string& tail, const char* separator) {
  return head + separator + tail;
}

// The items of a comma list, as SplitList finds them.
std::vector<std::string> ListItems(const std::string& list) {
  char** items = nullptr;
  const std::int32_t count = SplitList(list.c_str(), &items);
  std::vector<std::string> found;
  for (std::int32_t i = 0; i < count; ++i) {
    if (items[i] != nullptr) found.emplace_back(items[i]);
  }
  FreeList(items, count);
  return found;
}

bool HostChoseFile() {
  const char* chosen = std::getenv(kFileVariable);
  return chosen != nullptr && *chosen != '\0';
}

// Warnings about the file as a whole: the byte order mark and headers that
// almost name the section.
void CheckFile(const SettingsFile& text, Warnings& warnings) {
  if (text.StartsWithByteOrderMark()) {
    warnings.Add(1,
                 "the file starts with a UTF-8 byte order mark, which is read as part of the "
                 "first line (a header there is not seen); save the file without one");
  }
  for (const auto& entry : text.AllSections()) {
    const std::string& name = entry.first;
    if (name == kSection || !EqualIgnoringCase(TrimBlanks(name), kSection)) continue;
    warnings.Add(text.HeaderLine(name),
                 Quote("[" + name + "]") + " is not the section [" + kSection +
                     "] (section names are exact, letter case and spaces included), so its "
                     "settings are ignored; write '[" +
                     kSection + "]'");
  }
}

// Warnings about each key of the section as it stands after reading:
// unknown keys, ';' in values, blanks before a path, keys without "prefix".
void CheckKeys(const SettingsFile& text, const SettingsFile::SectionMap& section,
               Warnings& warnings) {
  const bool hasPrefix = section.count("prefix") != 0;
  for (const auto& [key, value] : section) {
    const std::size_t line = text.KeyLine(kSection, key);
    const KnownKey* known = FindKnownKey(key);
    if (known == nullptr) {
      warnings.Add(line, UnknownKeyWarning(key));
      continue;
    }
    if (value.find(';') != std::string::npos) {
      warnings.Add(line, Quote(key + "=" + value) +
                             ": ';' starts a comment only at the start of a line, so it is part "
                             "of the value; put the comment after '#' or on a line of its own");
    }
    if (known->onePath && !value.empty() && IsBlank(value.front())) {
      warnings.Add(line, "the value of '" + key +
                             "' starts with white space, which is part of the "
                             "path; write " +
                             Quote(key + "=" + std::string(TrimBlanks(value))));
    }
    if (known->belowPrefix && !hasPrefix) {
      warnings.Add(line, "'" + key +
                             "' is ignored without 'prefix'; add a line 'prefix=DIR' "
                             "naming the directory its paths are below");
    }
  }
}

void ReadValues(const SettingsFile& text, const SettingsFile::SectionMap& section,
                const char* separator, PluginSettings& settings, Warnings& warnings) {
  const auto valueOf = [&section](const char* key) -> const std::string* {
    auto found = section.find(key);
    return found == section.end() ? nullptr : &found->second;
  };

  if (const std::string* log = valueOf("log")) {
    if (*log == "errors") {
      settings.log = LogDetail::Errors;
    } else if (*log == "requests") {
      settings.log = LogDetail::Requests;
    } else if (*log != "none") {
      warnings.Add(text.KeyLine(kSection, "log"),
                   "unknown value " + Quote(*log) +
                       " of the setting log (none, errors or requests); nothing is logged");
    }
  }

  if (const std::string* timeout = valueOf("timeout")) {
    if (!ReadTimeout(*timeout, &settings.timeoutSeconds)) {
      warnings.Add(text.KeyLine(kSection, "timeout"),
                   "unknown value " + Quote(*timeout) +
                       " of the setting timeout (a number of seconds); there is no time limit");
    }
  }

  const std::string* prefix = valueOf("prefix");

  if (const std::string* venv = valueOf("venv")) {
    if (venv->empty() || IsAbsolute(*venv)) {
      settings.venv = *venv;
    } else {
      const std::string below = prefix != nullptr ? Join(*prefix, *venv, separator) : *venv;
      settings.venv = BelowCurrentDirectory(below, separator);
    }
  }

  if (prefix == nullptr) return;

  if (const std::string* logdir = valueOf("logdir")) {
    settings.logDirectorySet = true;
    settings.logDirectory = Join(*prefix, *logdir, separator);
  }

  if (const std::string* moduledir = valueOf("moduledir")) {
    const std::string first = Join(*prefix, *moduledir, separator);
    settings.moduleDirectories.push_back(first);
    if (const std::string* subdirectories = valueOf("modulesubdir")) {
      for (const std::string& item : ListItems(*subdirectories)) {
        settings.moduleDirectories.push_back(Join(first, item, separator));
      }
    }
  }

  if (const std::string* scriptdir = valueOf("scriptdir")) {
    for (const std::string& item : ListItems(*scriptdir)) {
      settings.scriptDirectories.push_back(Join(*prefix, item, separator));
    }
  }

  if (const std::string* pythonpath = valueOf("pythonpath")) {
    for (const std::string& item : ListItems(*pythonpath)) {
      settings.pythonPath.push_back(Join(*prefix, item, separator));
    }
  }
}

PluginSettings FromSettingsFile(const SettingsFile& text, const std::string& file,
                                const char* separator) {
  PluginSettings settings;
  settings.file = file;
  settings.fileRead = true;
  Warnings warnings(file);
  CheckFile(text, warnings);
  const auto& sections = text.AllSections();
  auto section = sections.find(kSection);
  if (section != sections.end()) {
    CheckKeys(text, section->second, warnings);
    ReadValues(text, section->second, separator, settings, warnings);
  }
  settings.warnings = warnings.InFileOrder();
  return settings;
}

}  // namespace

std::string SettingsFilePath() {
  const char* chosen = std::getenv(kFileVariable);
  const char* path = chosen != nullptr && *chosen != '\0' ? chosen : kDefaultFileName;
  return BelowCurrentDirectory(path, kPathSeparator);
}

PluginSettings ReadPluginSettings(const std::string& path, const char* separator) {
  const std::string file = BelowCurrentDirectory(path, kPathSeparator);
  SettingsFile text;
  const int error = text.Load(file.c_str());
  if (error == 0) return FromSettingsFile(text, file, separator);

  // What was read before a read error is not used: a file read in part is
  // treated as one not read at all.
  PluginSettings settings;
  settings.file = file;
  if (error != ENOENT || HostChoseFile()) {
    settings.warnings.push_back("cannot read the settings file " + Quote(file) + ": " +
                                std::strerror(error) + "; no settings are used");
  }
  return settings;
}

PluginSettings ReadPluginSettingsText(std::string_view text, const std::string& file,
                                      const char* separator) {
  SettingsFile settingsFile;
  settingsFile.LoadText(text);
  return FromSettingsFile(settingsFile, file, separator);
}
