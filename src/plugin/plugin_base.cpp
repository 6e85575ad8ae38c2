#include "qorv/plugin_base.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Opens the log file for writing (created or emptied). A host that runs with
// standard input, output or error closed must not find the log in their
// place, where print() would write into it: the file never takes descriptors
// 0 to 2, and programs the host starts do not inherit it.
std::FILE* OpenLogFile(const char* path) {
  std::FILE* file = std::fopen(path, "w");
#if !defined(_WIN32)
  if (file == nullptr) return nullptr;
  const int descriptor = fileno(file);
  if (descriptor > 2) {
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return file;
  }
  const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  std::FILE* reopened = moved >= 0 ? fdopen(moved, "w") : nullptr;
  if (reopened == nullptr && moved >= 0) close(moved);
  std::fclose(file);  // frees the low descriptor again
  return reopened;
#else
  return file;
#endif
}

}  // namespace

PluginBase::PluginBase() : logFile(nullptr), logFileName(nullptr), maxLogSize(0x100000) {
  logBuffer[0] = '\0';
}

PluginBase::~PluginBase() {
  // Qualified: during destruction of the base part only the base Close exists.
  PluginBase::Close();
  std::free(logFileName);
}

bool PluginBase::Open(const char* path) {
  // A second Open without a Close closes the stream of the first, so that it
  // is not lost open.
  PluginBase::Close();
  std::free(logFileName);
  logFileName = nullptr;
  if (path == nullptr) return false;
  logFileName = strdup(path);
  logFile = OpenLogFile(path);
  return logFile != nullptr;
}

bool PluginBase::Close() {
  if (logFile != nullptr) {
    std::fclose(logFile);
    logFile = nullptr;
  }
  return true;
}

void PluginBase::WriteLog(const char* format, ...) {
  if (logFile == nullptr) return;

  // Strictly greater: a file of exactly maxLogSize bytes takes one more message.
  if (std::ftell(logFile) > maxLogSize) {
    std::fclose(logFile);
    logFile = logFileName != nullptr ? OpenLogFile(logFileName) : nullptr;
    if (logFile == nullptr) return;
    WriteBanner();
    std::fputs("o Logfile hit maximum size limit, starting again.\n", logFile);
  }

  // A message longer than the buffer is formatted again into one of its
  // size: messages are written whole, whatever their length.
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(logBuffer, sizeof logBuffer, format, args);
  va_end(args);
  char* message = logBuffer;
  std::vector<char> large;
  if (length >= static_cast<int>(sizeof logBuffer)) {
    large.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    message = large.data();
  }
  va_end(again);

  for (char* c = message; *c != '\0'; ++c) {
    if (*c == '%') *c = '~';
  }
  std::fputs(message, logFile);
  std::fflush(logFile);
}

void PluginBase::WriteBanner() {
  std::fputs("QORV base plugin\n", logFile);
  std::fputs("(c) 2026 the qorv_python maintainers\n", logFile);
  std::fputs("https://qorv-python.example.org/\n", logFile);
  std::fputs("\n", logFile);
}
