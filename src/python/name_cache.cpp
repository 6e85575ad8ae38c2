#include "python/name_cache.h"

#include "python/python_compat.h"

namespace {
constexpr std::size_t kMaxNames = 4096;
}  // namespace

NameCache::~NameCache() { Clear(); }

PythonObject NameCache::Get(const char* text) {
  key_.assign(text);
  auto found = names_.find(key_);
  if (found != names_.end()) return found->second;
  PyObject* name = qorv::py::TextFromBytes(text);
  if (name == nullptr) return nullptr;
  qorv::py::InternInPlace(&name);
  if (names_.size() >= kMaxNames) Clear();
  names_.emplace(key_, name);  // the cache owns this reference
  return name;
}

void NameCache::Clear() {
  // Without a running interpreter the strings are gone with it already.
  if (Py_IsInitialized()) {
    for (auto& entry : names_) Py_DECREF(entry.second);
  }
  names_.clear();
}
