#include "plugin/call_context.h"

#include <new>

CallContext* HostThread::Enter() noexcept {
  try {
    if (contexts_.size() <= static_cast<std::size_t>(depth_)) {
      contexts_.push_back(std::make_unique<CallContext>());
    }
  } catch (...) {
    return nullptr;
  }
  CallContext* call = contexts_[static_cast<std::size_t>(depth_)].get();
  // The answer of this depth's previous call is the host's no longer.
  call->answer.ShrinkIfHuge();
  ++depth_;
  return call;
}
