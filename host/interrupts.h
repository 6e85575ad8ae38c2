// Ctrl-C in qorv-host. While a request runs, Ctrl-C asks the plugin to stop
// it: the signal handler only wakes a thread of qorv-host's own, which sends
// PyInterrupt (and may wait in the plugin as long as that takes). A second
// Ctrl-C within a second of the first, or one while no request runs and
// nobody types at the prompt, ends qorv-host as the default disposition
// would. While a line is typed at the prompt, Ctrl-C is noted for the prompt,
// which drops the line.
#ifndef QORV_HOST_INTERRUPTS_H
#define QORV_HOST_INTERRUPTS_H

#include <string>
#include <thread>

#include "qorv/plugin_base.h"

class Interrupts {
 public:
  // Installs the handler. Done before Open, so that Python, finding a
  // handler in place, installs none of its own.
  explicit Interrupts(PluginBase* plugin);
  // Stops the thread and gives SIGINT its default disposition back.
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Around each request.
  void RequestStarts();
  void RequestEnded();
  // While the prompt waits for a line.
  void TypingStarts();
  void TypingEnded();
  // True once for each Ctrl-C that came while a line was typed.
  bool TakeTypedInterrupt();
  // A temporary directory holding only the plugin's log file, which a Ctrl-C
  // that ends qorv-host removes on the way out.
  static void RemoveOnInterrupt(const std::string& directory, const char* fileName);

 private:
  void SendInterrupts();

  PluginBase* plugin_;
  int wakeRead_ = -1;
  std::thread sender_;
};

#endif  // QORV_HOST_INTERRUPTS_H
