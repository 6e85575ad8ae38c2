#include "python/thread_slot.h"

#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "requests/hot_path.h"

namespace {

// The platform's thread-local key: made with a function that runs on each
// ending thread that holds a value; deleting the key never runs it.
#if defined(_WIN32)
bool MakeKey(std::uintptr_t* key, void (*ended)(void*)) {
  const DWORD index = FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(ended));
  *key = index;
  return index != FLS_OUT_OF_INDEXES;
}
void DeleteKey(std::uintptr_t key) {
  // FlsFree runs the callback for this thread's value; it is cleared first.
  FlsSetValue(static_cast<DWORD>(key), nullptr);
  FlsFree(static_cast<DWORD>(key));
}
void* GetValue(std::uintptr_t key) { return FlsGetValue(static_cast<DWORD>(key)); }
bool SetValue(std::uintptr_t key, void* value) {
  return FlsSetValue(static_cast<DWORD>(key), value) != 0;
}
#else
bool MakeKey(std::uintptr_t* key, void (*ended)(void*)) {
  pthread_key_t made;
  if (pthread_key_create(&made, ended) != 0) return false;
  *key = static_cast<std::uintptr_t>(made);
  return true;
}
void DeleteKey(std::uintptr_t key) { pthread_key_delete(static_cast<pthread_key_t>(key)); }
void* GetValue(std::uintptr_t key) { return pthread_getspecific(static_cast<pthread_key_t>(key)); }
bool SetValue(std::uintptr_t key, void* value) {
  return pthread_setspecific(static_cast<pthread_key_t>(key), value) == 0;
}
#endif

}  // namespace

// Without a key (the process has used them all up) nothing is ever stored:
// every Get answers null.
ThreadSlotBase::ThreadSlotBase() : valid_(MakeKey(&key_, &NodeEnded)) {}

ThreadSlotBase::~ThreadSlotBase() = default;

void ThreadSlotBase::DestroyAll() {
  if (!valid_) return;
  DeleteKey(key_);
  valid_ = false;
  const std::lock_guard<std::mutex> lock(mutex_);
  for (Node* node : nodes_) {
    Destroy(node->value);
    delete node;
  }
  nodes_.clear();
}

QORV_HOT_PATH(08)
void* ThreadSlotBase::FindValue() const {
  if (!valid_) return nullptr;
  const auto* node = static_cast<const Node*>(GetValue(key_));
  return node != nullptr ? node->value : nullptr;
}

bool ThreadSlotBase::Store(void* value) noexcept {
  auto* node = valid_ ? new (std::nothrow) Node{this, value} : nullptr;
  bool stored = node != nullptr;
  try {
    if (stored) {
      const std::lock_guard<std::mutex> lock(mutex_);
      nodes_.insert(node);
    }
  } catch (...) {
    stored = false;
    delete node;
    node = nullptr;
  }
  if (stored && !SetValue(key_, node)) {
    const std::lock_guard<std::mutex> lock(mutex_);
    nodes_.erase(node);
    delete node;
    stored = false;
  }
  if (!stored) Destroy(value);
  return stored;
}

void ThreadSlotBase::NodeEnded(void* opaque) {
  auto* node = static_cast<Node*>(opaque);
  ThreadSlotBase* slot = node->slot;
  slot->ThreadEnded(node->value);
  {
    const std::lock_guard<std::mutex> lock(slot->mutex_);
    slot->nodes_.erase(node);
  }
  slot->Destroy(node->value);
  delete node;
}
