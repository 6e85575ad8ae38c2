// The plugin opened for the benchmarks, reached only through its boundary
// (Open, HandleRequest, Close), in a scratch directory that holds the module
// bench_tools; and the floors: the same Python work done straight on the C
// API, as a host that embedded Python by hand would do it.
#ifndef QORV_BENCH_BENCH_PLUGIN_H
#define QORV_BENCH_BENCH_PLUGIN_H

#include <cstddef>
#include <string>

#include "plugin/python_plugin.h"

PythonPlugin& BenchPlugin();
// Closes the plugin's run and opens a fresh one: ids count from "o_1".
void ReopenBenchPlugin();
// The scratch directory it runs in.
const char* BenchDirectory();

// Sends one request the way a host does: the text copied into its buffer.
const char* Send(const char* function, const std::string& parameters);

// Sends the text already in the host's buffer (see HostBuffer).
const char* SendBuffer(const char* function);
// The buffer a host passes, of the documented size.
char* HostBuffer();

// A parameter text whose last token changes on every call, written into
// `buffer` as a host writes a request's text (the answer overwrites it): a
// fixed head and a counter, so that making it costs next to nothing.
class VaryingText {
 public:
  VaryingText(char* buffer, std::string head) : buffer_(buffer), head_(std::move(head)) {}
  // Writes the text with the next number, NUL-terminated.
  void Next();
  // The number alone, and its length.
  const char* digits() const { return buffer_ + head_.size(); }
  std::size_t digitCount() const { return length_ - head_.size(); }

 private:
  char* buffer_;
  std::string head_;
  std::size_t length_ = 0;
  unsigned long counter_ = 0;
};

// The floors of bench_tools calls: a function or method found once, called
// with string arguments made as the plugin makes them, and the text of the
// result copied out as the plugin copies an answer. Their code is placed
// right behind the plugin's request path, so that both are placed alike.
class Floor {
 public:
  Floor();
  ~Floor();
  // With Python's lock held throughout, or taken and given back around each
  // call, as a host that serves several threads must.
  void HoldLock();
  void ReleaseLock();
  void Call(const char* argument, std::size_t length, bool takeLock);
  void CallMethod(bool takeLock);
  void CreateAndDrop(bool takeLock);
  const std::string& answer() const { return answer_; }

 private:
  struct State;
  State* state_;
  std::string answer_;
};

#endif  // QORV_BENCH_BENCH_PLUGIN_H
