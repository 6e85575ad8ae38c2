#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("qorv-test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::Write(const std::string& name, const std::string& content) const {
  const std::string path = File(name);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string OnDisk(std::string text) {
#if defined(_WIN32)
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
    text.insert(at, "\r");
  }
#endif
  return text;
}

ScopedChdir::ScopedChdir(const std::string& directory) : previous_(fs::current_path().string()) {
  fs::current_path(directory);
}

ScopedChdir::~ScopedChdir() {
  std::error_code error;
  fs::current_path(previous_, error);
  if (error) std::abort();
}
