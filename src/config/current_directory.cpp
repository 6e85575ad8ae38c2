#include "config/current_directory.h"

#include <cerrno>

#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

namespace {

// Whether `path` stands without the current directory: on Windows a drive
// ("C:\x", or "C:x", relative to that drive's own directory), a share or the
// root of the current drive; elsewhere the root.
bool StandsAlone(const std::string& path) {
  if (path.empty()) return false;
#if defined(_WIN32)
  return path[0] == '\\' || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
#else
  return path[0] == '/';
#endif
}

bool EndsWithSeparator(const std::string& directory) {
  const char last = directory.back();
#if defined(_WIN32)
  return last == '\\' || last == '/';
#else
  return last == '/';
#endif
}

}  // namespace

std::string CurrentDirectory() {
  std::string directory(4096, '\0');
  for (;;) {
#if defined(_WIN32)
    const bool got = _getcwd(&directory[0], static_cast<int>(directory.size())) != nullptr;
#else
    const bool got = getcwd(&directory[0], directory.size()) != nullptr;
#endif
    if (got) return directory.c_str();
    if (errno != ERANGE) return "";
    directory.resize(directory.size() * 2);
  }
}

std::string BelowCurrentDirectory(const std::string& path, const char* separator) {
  if (StandsAlone(path)) return path;
  const std::string directory = CurrentDirectory();
  if (directory.empty()) return path;
  // The root ("/", "C:\") ends with its separator already.
  if (EndsWithSeparator(directory)) return directory + path;
  return directory + separator + path;
}
