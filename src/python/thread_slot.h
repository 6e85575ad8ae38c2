// A value per thread, made on the thread's first use, with a function that
// runs on that thread when it ends. Unlike C++ thread_local, it holds no
// reference on the library: a plugin unloaded while threads that called it
// live on frees their values itself and never runs code on their exit.
// The platform's thread-local storage is used here and nowhere else.
#ifndef QORV_PYTHON_THREAD_SLOT_H
#define QORV_PYTHON_THREAD_SLOT_H

#include <cstdint>
#include <mutex>
#include <new>
#include <set>

class ThreadSlotBase {
 public:
  ThreadSlotBase(const ThreadSlotBase&) = delete;
  ThreadSlotBase& operator=(const ThreadSlotBase&) = delete;

 protected:
  ThreadSlotBase();
  // Destroys the values of every thread (without ThreadEnded: those threads
  // are not ending). A derived class calls DestroyAll in its destructor.
  virtual ~ThreadSlotBase();
  void DestroyAll();

  void* FindValue() const;
  // Stores a value made for this thread; the slot owns it from now on (and
  // has destroyed it when this fails for want of memory).
  bool Store(void* value) noexcept;

  // On a thread that ends with a value in the slot, before it is destroyed.
  virtual void ThreadEnded(void* value) = 0;
  virtual void Destroy(void* value) = 0;

 private:
  struct Node {
    ThreadSlotBase* slot;
    void* value;
  };
  static void NodeEnded(void* node);

  std::uintptr_t key_ = 0;
  bool valid_ = false;
  std::mutex mutex_;
  std::set<Node*> nodes_;  // every thread's value, for DestroyAll
};

template <typename T>
class ThreadSlot : public ThreadSlotBase {
 public:
  // `ended` (may be null) runs on a thread that ends, with its value.
  explicit ThreadSlot(void (*ended)(T& value) = nullptr) : ended_(ended) {}
  ~ThreadSlot() override { DestroyAll(); }

  // This thread's value, or null before its first Get.
  T* Find() const { return static_cast<T*>(FindValue()); }
  // This thread's value, made on first use; null only when there is no
  // memory for it.
  T* Get() noexcept {
    if (T* value = Find()) return value;
    T* value = new (std::nothrow) T();
    if (value == nullptr || !Store(value)) return nullptr;
    return value;
  }

 private:
  void ThreadEnded(void* value) override {
    if (ended_ != nullptr) ended_(*static_cast<T*>(value));
  }
  void Destroy(void* value) override { delete static_cast<T*>(value); }

  void (*ended_)(T&);
};

#endif  // QORV_PYTHON_THREAD_SLOT_H
