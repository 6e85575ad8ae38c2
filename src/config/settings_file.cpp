#include "config/settings_file.h"

#include <cstdio>

namespace {

// Only these six count as white space; bytes 0x80-0xFF never do.
bool IsTrailingSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view CutComment(std::string_view line) {
  const std::size_t hash = line.find('#');
  return hash == std::string_view::npos ? line : line.substr(0, hash);
}

std::string_view TrimTrailingSpace(std::string_view line) {
  std::size_t end = line.size();
  while (end > 0 && IsTrailingSpace(line[end - 1])) --end;
  return line.substr(0, end);
}

}  // namespace

void SettingsFile::Load(const char* fileName) {
  std::FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) return;
  std::string text;
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  // A read error ends the text where it stopped; what was read is used.
  std::fclose(file);
  LoadText(text);
}

void SettingsFile::LoadText(std::string_view text) {
  std::string currentSection;  // each load starts in the empty-named section
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ReadLine(text.substr(start, end - start), currentSection);
    start = end + 1;
  }
}

void SettingsFile::ReadLine(std::string_view line, std::string& currentSection) {
  line = TrimTrailingSpace(CutComment(line));
  if (line.empty()) return;
  switch (line[0]) {
    case '\t':
    case ' ':
    case ';':
      return;  // indented lines and ';' comments are never read ('#' is cut already)
    case '[': {
      const std::size_t close = line.rfind(']');
      if (close == 0 || close == std::string_view::npos) return;
      currentSection.assign(line.substr(1, close - 1));
      // A repeated header starts its section afresh.
      sections[currentSection].clear();
      return;
    }
    default: {
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) return;
      // Nothing is trimmed around the "=": 'a = b' is key 'a ' and value ' b'.
      sections[currentSection][std::string(line.substr(0, equals))] =
          std::string(line.substr(equals + 1));
      return;
    }
  }
}

bool SettingsFile::HasKey(const char* section, const char* key) const {
  if (section == nullptr) return false;
  auto found = sections.find(section);
  if (found == sections.end()) return false;
  if (key == nullptr) return true;
  return found->second.count(key) != 0;
}

SettingsFile::SectionMap& SettingsFile::Section(const char* name) {
  return sections[name != nullptr ? name : ""];
}
