// Python strings of the module and attribute names that requests use, so
// that the same name is not decoded on every call. The strings are not
// interned: an interned string lives for ever on Python 3.12, and a host
// that names many distinct modules or attributes would grow without end.
// Requests use a handful of names; the cache starts afresh if it ever holds
// more than a few thousand.
#ifndef QORV_PYTHON_NAME_CACHE_H
#define QORV_PYTHON_NAME_CACHE_H

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "python/py_ref.h"

class NameCache {
 public:
  NameCache() = default;
  NameCache(const NameCache&) = delete;
  NameCache& operator=(const NameCache&) = delete;
  // Whatever is still held is dropped without touching Python, which may be
  // gone or locked by another thread by then: Clear it while Python runs.
  ~NameCache();

  // The Python string of `text`, of `length` bytes (the cache keeps it), or
  // null with the Python error set.
  PyBorrowed Get(const char* text, std::size_t length);

  // Releases every string; the lock must be held.
  void Clear();

 private:
  // The names used last, searched before the map: a request's module and
  // attribute names are found with a comparison each.
  struct Recent {
    const std::string* text = nullptr;  // a key of names_
    _object* name = nullptr;            // its value
  };
  std::array<Recent, 4> recent_;
  std::size_t nextRecent_ = 0;
  std::unordered_map<std::string, PyRef> names_;
  std::string key_;  // reused for lookups, so a hit allocates nothing
};

#endif  // QORV_PYTHON_NAME_CACHE_H
