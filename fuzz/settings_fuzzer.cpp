// Arbitrary bytes as a settings file; checks what the grammar guarantees and
// what the plugin's settings and their warnings promise about any input.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "config/plugin_settings.h"
#include "config/settings_file.h"

namespace {

constexpr const char kFile[] = "/fuzz/qorv_python.ini";
constexpr const char kSeparator[] = "/";

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsInSpace(std::string_view text) {
  return !text.empty() && std::string_view(" \t\n\v\f\r").find(text.back()) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void CheckGrammar(const SettingsFile& settings, const std::vector<std::string_view>& lines) {
  for (const auto& [name, keys] : settings.AllSections()) {
    // Comments are cut and lines end at line feeds, wherever they stand.
    Check(name.find('#') == std::string::npos && name.find('\n') == std::string::npos);
    // HasKey takes C texts, so a name holding a NUL byte is out of its reach.
    if (name.find('\0') == std::string::npos) Check(settings.HasKey(name.c_str(), nullptr));
    // A named section came from a header, and that line starts with it.
    const std::size_t header = settings.HeaderLine(name);
    Check(header <= lines.size());
    if (header > 0) Check(StartsWith(lines[header - 1], "[" + name + "]"));
    for (const auto& [key, value] : keys) {
      Check(key.find_first_of("#\n=") == std::string::npos);
      Check(value.find_first_of("#\n") == std::string::npos);
      Check(!EndsInSpace(value));
      Check(key.empty() || std::string_view("\t #;[").find(key[0]) == std::string_view::npos);
      // Each value's line holds that key and that value, as written.
      const std::size_t line = settings.KeyLine(name, key);
      Check(line >= 1 && line <= lines.size());
      Check(StartsWith(lines[line - 1], key + "=" + value));
    }
  }
}

void CheckSettings(const PluginSettings& settings, const SettingsFile& file) {
  Check(settings.fileRead && settings.file == kFile);
  Check(std::isfinite(settings.timeoutSeconds) && settings.timeoutSeconds >= 0 &&
        settings.timeoutSeconds <= kMaxTimeoutSeconds);
  // Everything below the prefix needs one, and starts with it.
  const auto& sections = file.AllSections();
  const auto section = sections.find("QORV_PYTHON");
  const bool hasPrefix = section != sections.end() && section->second.count("prefix") != 0;
  if (!hasPrefix) {
    Check(!settings.logDirectorySet && settings.logDirectory.empty());
    Check(settings.scriptDirectories.empty() && settings.moduleDirectories.empty() &&
          settings.pythonPath.empty());
  } else {
    const std::string head = section->second.at("prefix") + kSeparator;
    for (const auto* list :
         {&settings.scriptDirectories, &settings.moduleDirectories, &settings.pythonPath}) {
      for (const std::string& path : *list) Check(StartsWith(path, head));
    }
  }
  // Each warning is one printable line, and those about a line name the
  // file and come in line order.
  std::size_t previousLine = 0;
  for (const std::string& warning : settings.warnings) {
    Check(!warning.empty());
    for (char c : warning) {
      const auto byte = static_cast<unsigned char>(c);
      Check(byte >= 0x20 && byte != 0x7F);
    }
    Check(StartsWith(warning, std::string(kFile) + ":"));
    const std::size_t line = std::strtoul(warning.c_str() + sizeof kFile, nullptr, 10);
    Check(line >= 1 && line >= previousLine);
    previousLine = line;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SettingsFile file;
  file.LoadText(text);
  const std::vector<std::string_view> lines = Lines(text);
  CheckGrammar(file, lines);
  CheckSettings(ReadPluginSettingsText(text, kFile, kSeparator), file);
  return 0;
}
