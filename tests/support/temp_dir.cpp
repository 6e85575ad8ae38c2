#include "support/temp_dir.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "qorv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
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

ScopedChdir::ScopedChdir(const std::string& directory) {
  char current[PATH_MAX];
  if (getcwd(current, sizeof current) == nullptr) throw std::runtime_error("getcwd failed");
  previous_ = current;
  if (chdir(directory.c_str()) != 0) throw std::runtime_error("chdir failed: " + directory);
}

ScopedChdir::~ScopedChdir() {
  if (chdir(previous_.c_str()) != 0) std::abort();
}
