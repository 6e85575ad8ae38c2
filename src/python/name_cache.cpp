#include "python/name_cache.h"

#include <cstring>

#include "python/python_compat.h"
#include "requests/hot_path.h"
#include "requests/same_bytes.h"

namespace {
constexpr std::size_t kMaxNames = 4096;
}  // namespace

NameCache::~NameCache() {
  for (auto& entry : names_) static_cast<void>(entry.second.release());
}

QORV_HOT_PATH(33)
PyBorrowed NameCache::Get(const char* text, std::size_t length) {
  for (const Recent& recent : recent_) {
    if (recent.text != nullptr && recent.text->size() == length &&
        SameBytes(recent.text->data(), text, length)) {
      return PyBorrowed(recent.name);
    }
  }
  key_.assign(text, length);
  auto found = names_.find(key_);
  if (found == names_.end()) {
    PyRef owned = PyRef::Steal(qorv::py::TextFromBytes(text, length));
    if (!owned) return PyBorrowed();
    if (names_.size() >= kMaxNames) Clear();
    found = names_.emplace(key_, std::move(owned)).first;
  }
  // Map entries stay where they are as the map grows.
  recent_[nextRecent_++ % recent_.size()] = {&found->first, found->second.get()};
  return found->second.borrowed();
}

void NameCache::Clear() {
  recent_ = {};
  names_.clear();
}
