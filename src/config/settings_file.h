// Reads INI-style settings into sections of keys and values, byte for byte.
// One pass, one line at a time; it never fails and never reports.
#ifndef QORV_CONFIG_SETTINGS_FILE_H
#define QORV_CONFIG_SETTINGS_FILE_H

#include <map>
#include <string>
#include <string_view>

class SettingsFile {
 public:
  using SectionMap = std::map<std::string, std::string>;

  // Adds the file's contents to what is held. A file that cannot be opened
  // leaves everything as it was; lines read before a read error stay.
  void Load(const char* fileName);
  // The same reader over text in memory.
  void LoadText(std::string_view text);

  // False for a null section name or a missing section; true for a null key
  // when the section exists; otherwise whether the section holds the key.
  // Never creates an entry.
  bool HasKey(const char* section, const char* key) const;

  // The section of that name, created empty when absent.
  SectionMap& Section(const char* name);

  // Everything read, section by section.
  const std::map<std::string, SectionMap>& AllSections() const { return sections; }

 private:
  void ReadLine(std::string_view line, std::string& currentSection);

  std::map<std::string, SectionMap> sections;
};

#endif  // QORV_CONFIG_SETTINGS_FILE_H
