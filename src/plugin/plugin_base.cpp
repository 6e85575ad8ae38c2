#include "qorv/plugin_base.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

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
  logFile = std::fopen(path, "w");
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
    logFile = logFileName != nullptr ? std::fopen(logFileName, "w") : nullptr;
    if (logFile == nullptr) return;
    WriteBanner();
    std::fputs("o Logfile hit maximum size limit, starting again.\n", logFile);
  }

  // A message longer than the buffer is cut to it.
  va_list args;
  va_start(args, format);
  std::vsnprintf(logBuffer, sizeof logBuffer, format, args);
  va_end(args);

  for (char* c = logBuffer; *c != '\0'; ++c) {
    if (*c == '%') *c = '~';
  }
  std::fputs(logBuffer, logFile);
  std::fflush(logFile);
}

void PluginBase::WriteBanner() {
  std::fputs("QORV base plugin\n", logFile);
  std::fputs("(c) 2026 the qorv_python maintainers\n", logFile);
  std::fputs("https://qorv-python.example.org/\n", logFile);
  std::fputs("\n", logFile);
}
