// The plugin object: the boundary to the host. Open makes a Session, Close
// ends it, and HandleRequest hands each request to the session in its turn,
// or refuses it when no run is open. Any host thread may call at any time:
// requests are served one after another (PyInterrupt, served at once, is the
// exception), and Open and Close wait for the request being served.
#ifndef QORV_PLUGIN_PYTHON_PLUGIN_H
#define QORV_PLUGIN_PYTHON_PLUGIN_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "plugin/call_context.h"
#include "plugin/session.h"
#include "plugin/turn.h"
#include "python/runtime.h"
#include "python/thread_slot.h"
#include "qorv/plugin_base.h"

class PythonPlugin : public PluginBase {
 public:
  PythonPlugin() = default;
  ~PythonPlugin() override;

  bool Open(const char* directory) override;
  const char* HandleRequest(const char* hostArgument, const char* functionName,
                            char* parameters) override;
  bool Close() override;

 private:
  // One request, Open or Close at a time. A caller that holds Python's lock
  // (a Python thread calling through ctypes) gives it up while it waits.
  void TakeTurn();
  void EndSession();
  // A line on the process's standard error, and in the log file when the
  // settings ask for errors: for what happens outside a running session.
  void ReportOutsideRun(const std::string& line, LogDetail log);
  // Appends text to the log file from any thread, whole lines at a time.
  static void AppendToLog(void* plugin, const char* text, std::size_t length);
  void FlushLog();

  Runtime runtime_;
  ThreadSlot<HostThread> hostThreads_;
  Turn turn_;
  // Guards session_ for requests served at once; the turn guards it for the
  // rest. Both are held to replace it.
  std::shared_mutex sessionGuard_;
  std::unique_ptr<Session> session_;
  std::mutex logMutex_;
  std::string pendingLog_;  // the start of a line not yet ended
};

#endif  // QORV_PLUGIN_PYTHON_PLUGIN_H
