// Interned Python strings of the module and attribute names that requests
// use. Interned names make the lookups in sys.modules, in type caches and in
// module dictionaries pointer comparisons, and spare decoding the same name
// on every call. Requests use a handful of names; the cache starts afresh if
// it ever holds more than a few thousand.
#ifndef QORV_PYTHON_NAME_CACHE_H
#define QORV_PYTHON_NAME_CACHE_H

#include <string>
#include <unordered_map>

#include "requests/object_registry.h"

class NameCache {
 public:
  NameCache() = default;
  NameCache(const NameCache&) = delete;
  NameCache& operator=(const NameCache&) = delete;
  ~NameCache();

  // The Python string of `text` (borrowed: the cache keeps it), or null with
  // the Python error set.
  PythonObject Get(const char* text);

  // Releases every string; must run before the interpreter finalises.
  void Clear();

 private:
  std::unordered_map<std::string, PythonObject> names_;
  std::string key_;  // reused for lookups, so a hit allocates nothing
};

#endif  // QORV_PYTHON_NAME_CACHE_H
