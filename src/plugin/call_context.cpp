#include "plugin/call_context.h"

#include <new>

CallContext* HostThread::EnterNewDepth() noexcept {
  try {
    contexts_.push_back(std::make_unique<CallContext>());
  } catch (...) {
    return nullptr;
  }
  ++depth_;
  return contexts_.back().get();
}
