// What one request owns while it is served: its parsed parameters and its
// answer. Each host thread has its own, one per depth of nesting (Python code
// in a request may call the plugin again), kept from call to call so that a
// steady stream of requests allocates nothing. The answer of a call stays
// valid until the same thread calls again.
#ifndef QORV_PLUGIN_CALL_CONTEXT_H
#define QORV_PLUGIN_CALL_CONTEXT_H

#include <memory>
#include <string>
#include <vector>

#include "requests/answer_text.h"
#include "requests/hot_path.h"
#include "requests/request_args.h"

struct CallContext {
  RequestArgs args;
  AnswerText answer;
};

class HostThread {
 public:
  // Calls of this thread in progress.
  int depth() const { return depth_; }
  // The context of a call that begins on this thread now; null without
  // memory for it. Every Enter that gives one is matched by a Leave.
  QORV_HOT_PATH(06)
  CallContext* Enter() noexcept {
    if (static_cast<std::size_t>(depth_) >= contexts_.size()) return EnterNewDepth();
    CallContext* call = contexts_[static_cast<std::size_t>(depth_)].get();
    // The answer of this depth's previous call is the host's no longer.
    call->answer.ShrinkIfHuge();
    ++depth_;
    return call;
  }
  void Leave() noexcept { --depth_; }

 private:
  // Enter at a depth this thread has not reached before.
  QORV_COLD_PATH
  CallContext* EnterNewDepth() noexcept;

  int depth_ = 0;
  std::vector<std::unique_ptr<CallContext>> contexts_;
};

#endif  // QORV_PLUGIN_CALL_CONTEXT_H
