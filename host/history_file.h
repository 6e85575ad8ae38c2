// The prompt's history file, shared by every prompt that runs at once: each
// entry is appended as it is entered, under a lock on the file's directory,
// and the file keeps the newest `limit` entries.
//
// An entry is written as a line "#SECONDS" followed by its text, which may
// span lines (a pasted block). Lines before the first "#SECONDS" line are
// entries of one line each, so a file of plain lines reads as it always did.
#ifndef QORV_HOST_HISTORY_FILE_H
#define QORV_HOST_HISTORY_FILE_H

#include <cstddef>
#include <string>
#include <vector>

class HistoryFile {
 public:
  // `path` empty: no file (Load gives nothing, Append keeps nothing).
  HistoryFile(std::string path, std::size_t limit);

  // $XDG_STATE_HOME/qorv-host/history, or ~/.local/state/qorv-host/history
  // (the directory made when missing); empty without either variable.
  static std::string DefaultPath();

  // The entries, oldest first.
  std::vector<std::string> Load() const;
  void Append(const std::string& entry) const;

 private:
  struct Record {
    std::string stamp;  // "#SECONDS", or empty for a plain line
    std::string text;
  };
  std::vector<Record> Read() const;

  std::string path_;
  std::size_t limit_;
};

#endif  // QORV_HOST_HISTORY_FILE_H
