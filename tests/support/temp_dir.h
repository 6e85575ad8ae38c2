// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
#ifndef QORV_TESTS_SUPPORT_TEMP_DIR_H
#define QORV_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;
  // Writes `content` to path()/name (creating directories on the way); returns the path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// The whole content of a file, byte for byte, or "" when it cannot be read.
std::string ReadFile(const std::string& path);

// `text` as a stream in text mode stores it: on Windows each line feed is
// preceded by a carriage return.
std::string OnDisk(std::string text);

// Changes the current directory for the object's lifetime.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& directory);
  ~ScopedChdir();
  ScopedChdir(const ScopedChdir&) = delete;
  ScopedChdir& operator=(const ScopedChdir&) = delete;

 private:
  std::string previous_;
};

#endif  // QORV_TESTS_SUPPORT_TEMP_DIR_H
