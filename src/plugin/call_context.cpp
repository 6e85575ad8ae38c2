#include "plugin/call_context.h"

#include <new>

namespace {
// An answer longer than this gives its memory back at the thread's next call.
constexpr std::size_t kKeptAnswerCapacity = 65536;
}  // namespace

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
  if (call->answer.capacity() > kKeptAnswerCapacity) std::string().swap(call->answer);
  ++depth_;
  return call;
}
