#include "config/script_files.h"

#include <cstdio>
#include <filesystem>
#include <memory>

bool ReadScriptFile(const char* path, std::string* text) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(std::filesystem::status(path, error))) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
  if (file == nullptr) return false;
  text->clear();
  char chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) text->append(chunk, got);
  return std::ferror(file.get()) == 0;
}

std::string FindScriptFile(const std::vector<std::string>& directories, const char* fileName,
                           const char* separator, std::string* text) {
  if (fileName == nullptr || separator == nullptr) return "";
  for (const std::string& directory : directories) {
    const std::string path = directory + separator + fileName;
    if (ReadScriptFile(path.c_str(), text)) return path;
  }
  return "";
}
