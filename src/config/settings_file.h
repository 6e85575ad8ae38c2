// Reads INI-style settings into sections of keys and values, byte for byte.
// One pass, one line at a time; it never fails and never reports. Beside the
// values it keeps where each came from, so that a caller can point at a line.
#ifndef QORV_CONFIG_SETTINGS_FILE_H
#define QORV_CONFIG_SETTINGS_FILE_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

class SettingsFile {
 public:
  using SectionMap = std::map<std::string, std::string>;

  // Adds the file's contents to what is held. Returns 0 when the whole file
  // was read, else the errno value of the failure (ENOENT for a missing
  // file). A file that cannot be opened leaves everything as it was; lines
  // read before a read error stay.
  int Load(const char* fileName);
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

  // The line, counted from 1 in the text that set it, of the assignment that
  // gave `key` its value in `section`; 0 when the key is not held.
  std::size_t KeyLine(const std::string& section, const std::string& key) const;
  // The line of the last header that started `section`; 0 when no header
  // did (the empty-named section before any header).
  std::size_t HeaderLine(const std::string& section) const;
  // Whether the text last loaded began with the UTF-8 byte order mark
  // EF BB BF, which the reader takes as part of the first line.
  bool StartsWithByteOrderMark() const { return byteOrderMark; }

 private:
  void ReadLine(std::string_view line, std::size_t lineNumber, std::string& currentSection);

  std::map<std::string, SectionMap> sections;
  // Beside `sections`, key for key: the line each value came from.
  std::map<std::string, std::map<std::string, std::size_t>> keyLines;
  std::map<std::string, std::size_t> headerLines;
  bool byteOrderMark = false;
};

#endif  // QORV_CONFIG_SETTINGS_FILE_H
