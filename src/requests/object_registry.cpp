#include "requests/object_registry.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <utility>

#include "requests/hot_path.h"

namespace {
constexpr std::int32_t kGeneratedIdCap = 30000;
constexpr const char kIdPrefix[] = "o_";
}  // namespace

// One more than the number of digits: the room the number takes in an id text with its NUL.
int DigitCount(std::int32_t n) {
  int count = 1;
  std::int64_t power = 1;
  do {
    power *= 10;
    ++count;
  } while (n / power != 0);
  return count;
}

namespace {

// Releases the object it holds when it goes, unless it was handed on.
class HeldUntilStored {
 public:
  HeldUntilStored(PythonObject object, ObjectRegistry::Release release)
      : object_(object), release_(release) {}
  ~HeldUntilStored() {
    if (object_ != nullptr) release_(object_);
  }
  void Stored() { object_ = nullptr; }

 private:
  PythonObject object_;
  ObjectRegistry::Release release_;
};

}  // namespace

QORV_HOT_PATH(35)
std::string ObjectRegistry::Register(PythonObject object, const char* id) {
  HeldUntilStored held(object, release_);
  std::string key = id != nullptr ? std::string(id) : NewObjectId();
  auto [entry, inserted] = entries_.try_emplace(key, object);
  held.Stored();
  if (inserted) {
    MarkHeld(GeneratedNumber(entry->first));
    return key;
  }
  // The entry keeps its key and now holds the new reference. The one it held
  // goes last, even when it is the very same object: releasing may run
  // __del__, and the registry is consistent by then.
  const PythonObject previous = std::exchange(entry->second, object);
  release_(previous);
  return key;
}

std::string ObjectRegistry::NewObjectId() {
  ++objectCounter_;
  std::int32_t n = objectCounter_;
  if (objectCounter_ > kGeneratedIdCap) {
    objectCounter_ = kGeneratedIdCap;
    n = LowestFreeNumber();
  }
  std::string id;
  id.reserve(sizeof kIdPrefix - 1 + DigitCount(n));
  id.append(kIdPrefix).append(std::to_string(n));
  return id;
}

QORV_HOT_PATH(31)
PythonObject ObjectRegistry::Find(std::string_view id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : it->second;
}

PythonObject ObjectRegistry::Take(Entries::iterator entry) {
  const PythonObject object = entry->second;
  MarkFree(GeneratedNumber(entry->first));
  entries_.erase(entry);
  return object;
}

bool ObjectRegistry::Remove(std::string_view id) {
  auto entry = entries_.find(id);
  if (entry == entries_.end()) return false;
  // Taken out first: __del__ may run while it is released.
  release_(Take(entry));
  return true;
}

void ObjectRegistry::Clear(bool release) {
  while (!entries_.empty()) {
    const PythonObject object = Take(entries_.begin());
    if (release) release_(object);
  }
}

std::int32_t ObjectRegistry::LowestFreeNumber() const {
  if (heldRuns_.empty() || heldRuns_.begin()->first != 0) return 0;
  return static_cast<std::int32_t>(heldRuns_.begin()->second + 1);
}

std::int64_t ObjectRegistry::GeneratedNumber(std::string_view id) {
  const std::size_t prefixLength = sizeof kIdPrefix - 1;
  if (id.size() <= prefixLength || id.compare(0, prefixLength, kIdPrefix) != 0) return -1;
  std::string_view digits = id.substr(prefixLength);
  if (digits.size() > 1 && digits[0] == '0') return -1;
  if (digits.size() > 10) return -1;
  std::int64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n <= INT_MAX ? n : -1;
}

void ObjectRegistry::MarkHeld(std::int64_t n) {
  if (n < 0) return;
  // The run that starts after n, and the one at or before n.
  auto next = heldRuns_.upper_bound(n);
  bool joinsPrevious = false;
  if (next != heldRuns_.begin()) {
    auto previous = std::prev(next);
    if (previous->second >= n) return;  // already held
    joinsPrevious = previous->second == n - 1;
  }
  const bool joinsNext = next != heldRuns_.end() && next->first == n + 1;
  if (joinsPrevious && joinsNext) {
    std::prev(next)->second = next->second;
    heldRuns_.erase(next);
  } else if (joinsPrevious) {
    std::prev(next)->second = n;
  } else if (joinsNext) {
    const std::int64_t last = next->second;
    heldRuns_.erase(next);
    heldRuns_.emplace(n, last);
  } else {
    heldRuns_.emplace(n, n);
  }
}

void ObjectRegistry::MarkFree(std::int64_t n) {
  if (n < 0) return;
  auto next = heldRuns_.upper_bound(n);
  if (next == heldRuns_.begin()) return;
  auto run = std::prev(next);
  const std::int64_t first = run->first;
  const std::int64_t last = run->second;
  if (last < n) return;
  heldRuns_.erase(run);
  if (first < n) heldRuns_.emplace(first, n - 1);
  if (n < last) heldRuns_.emplace(n + 1, last);
}

