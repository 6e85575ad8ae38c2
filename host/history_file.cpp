#include "history_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <utility>

namespace {

bool IsStamp(const std::string& line) {
  return line.size() > 1 && line[0] == '#' &&
         line.find_first_not_of("0123456789", 1) == std::string::npos;
}

// Holds the lock on the history file's directory: the file itself is
// replaced when it is cut to its limit, so it cannot carry the lock.
class DirectoryLock {
 public:
  DirectoryLock(const std::string& file, int operation) {
    const std::string directory = std::filesystem::path(file).parent_path().string();
    fd_ = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) flock(fd_, operation);
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);  // closing lets the lock go
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

HistoryFile::HistoryFile(std::string path, std::size_t limit)
    : path_(std::move(path)), limit_(limit) {}

std::string HistoryFile::DefaultPath() {
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    state = std::string(home) + "/.local/state";
  } else {
    return "";
  }
  std::error_code ignored;
  std::filesystem::create_directories(state + "/qorv-host", ignored);
  return state + "/qorv-host/history";
}

std::vector<HistoryFile::Record> HistoryFile::Read() const {
  std::vector<Record> records;
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  bool inStampedEntry = false;  // the lines after "#SECONDS" up to the next one
  bool entryStarted = false;
  while (std::getline(in, line)) {
    if (IsStamp(line)) {
      records.push_back({line, ""});
      inStampedEntry = true;
      entryStarted = false;
      continue;
    }
    if (!inStampedEntry) {
      records.push_back({"", line});
      continue;
    }
    std::string& text = records.back().text;
    if (entryStarted) text += '\n';
    text += line;
    entryStarted = true;
  }
  return records;
}

std::vector<std::string> HistoryFile::Load() const {
  if (path_.empty()) return {};
  const DirectoryLock lock(path_, LOCK_SH);
  std::vector<std::string> entries;
  for (Record& record : Read()) {
    if (!record.text.empty()) entries.push_back(std::move(record.text));
  }
  return entries;
}

void HistoryFile::Append(const std::string& entry) const {
  if (path_.empty() || limit_ == 0) return;
  const DirectoryLock lock(path_, LOCK_EX);
  const std::string stamp = "#" + std::to_string(static_cast<long long>(std::time(nullptr)));
  std::vector<Record> records = Read();
  if (records.size() < limit_) {
    const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    WriteAll(fd, stamp + "\n" + entry + "\n");
    close(fd);
    return;
  }
  // Full: the newest limit - 1 entries and this one go into a new file,
  // which then takes the old one's place in one step.
  records.push_back({stamp, entry});
  std::string text;
  for (std::size_t i = records.size() - limit_; i < records.size(); ++i) {
    if (!records[i].stamp.empty()) text += records[i].stamp + "\n";
    text += records[i].text + "\n";
  }
  const std::string temporary = path_ + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool written = WriteAll(fd, text);
  close(fd);
  if (!written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
    std::remove(temporary.c_str());
  }
}
