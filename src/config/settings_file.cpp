#include "config/settings_file.h"

#include <cerrno>
#include <cstdio>
#include <utility>

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

int SettingsFile::Load(const char* fileName) {
  errno = 0;
  std::FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) return errno != 0 ? errno : ENOENT;
  errno = 0;  // a successful fopen may leave it set
  std::string text;
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  // A read error ends the text where it stopped; what was read is used. A
  // directory opens on POSIX systems and fails here, with EISDIR.
  const int readError = std::ferror(file) != 0 ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(file);
  LoadText(text);
  return readError;
}

void SettingsFile::LoadText(std::string_view text) {
  std::string currentSection;  // each load starts in the empty-named section
  byteOrderMark = text.substr(0, 3) == "\xEF\xBB\xBF";
  std::size_t start = 0;
  std::size_t lineNumber = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ReadLine(text.substr(start, end - start), ++lineNumber, currentSection);
    start = end + 1;
  }
}

void SettingsFile::ReadLine(std::string_view line, std::size_t lineNumber,
                            std::string& currentSection) {
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
      keyLines[currentSection].clear();
      headerLines[currentSection] = lineNumber;
      return;
    }
    default: {
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) return;
      // Nothing is trimmed around the "=": 'a = b' is key 'a ' and value ' b'.
      std::string key(line.substr(0, equals));
      sections[currentSection][key] = std::string(line.substr(equals + 1));
      keyLines[currentSection][std::move(key)] = lineNumber;
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

std::size_t SettingsFile::KeyLine(const std::string& section, const std::string& key) const {
  auto found = keyLines.find(section);
  if (found == keyLines.end()) return 0;
  auto line = found->second.find(key);
  return line == found->second.end() ? 0 : line->second;
}

std::size_t SettingsFile::HeaderLine(const std::string& section) const {
  auto found = headerLines.find(section);
  return found == headerLines.end() ? 0 : found->second;
}
