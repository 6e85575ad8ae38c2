#include "python/name_cache.h"

#include "python/python_compat.h"

namespace {
constexpr std::size_t kMaxNames = 4096;
}  // namespace

NameCache::~NameCache() {
  for (auto& entry : names_) static_cast<void>(entry.second.release());
}

PyBorrowed NameCache::Get(const char* text) {
  key_.assign(text);
  auto found = names_.find(key_);
  if (found != names_.end()) return found->second.borrowed();
  PyObject* name = qorv::py::TextFromBytes(text);
  if (name == nullptr) return PyBorrowed();
  qorv::py::InternInPlace(&name);
  PyRef owned = PyRef::Steal(name);  // released by the PyRef if the insert throws
  if (names_.size() >= kMaxNames) Clear();
  return names_.emplace(key_, std::move(owned)).first->second.borrowed();
}

void NameCache::Clear() { names_.clear(); }
