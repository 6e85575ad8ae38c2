#include "requests/object_registry.h"

#include <climits>
#include <cstring>
#include <iterator>

#include "plugin/python_plugin.h"

namespace {
constexpr std::int32_t kGeneratedIdCap = 30000;
constexpr const char kIdPrefix[] = "o_";
}  // namespace

int DigitCount(std::int32_t n) {
  int count = 1;
  std::int64_t power = 1;
  do {
    power *= 10;
    ++count;
  } while (n / power != 0);
  return count;
}

PythonObject ObjectRegistry::Find(std::string_view id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : it->second;
}

std::pair<const std::string*, PythonObject> ObjectRegistry::Insert(std::string id,
                                                                   PythonObject object) {
  auto [it, inserted] = entries_.try_emplace(std::move(id), object);
  if (!inserted) {
    PythonObject previous = it->second;
    it->second = object;
    return {&it->first, previous};
  }
  MarkHeld(GeneratedNumber(it->first));
  return {&it->first, nullptr};
}

PythonObject ObjectRegistry::Remove(std::string_view id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return nullptr;
  PythonObject object = it->second;
  MarkFree(GeneratedNumber(it->first));
  entries_.erase(it);
  return object;
}

PythonObject ObjectRegistry::TakeFirst() {
  auto it = entries_.begin();
  PythonObject object = it->second;
  MarkFree(GeneratedNumber(it->first));
  entries_.erase(it);
  return object;
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

// The plugin's registry operations.

const char* PythonPlugin::RegisterObject(PythonObject object, const char* id) {
  const char* key = nullptr;
  PythonObject previous = nullptr;
  try {
    auto inserted = objectRegistry.Insert(id != nullptr ? std::string(id) : NewObjectId(), object);
    key = inserted.first->c_str();
    previous = inserted.second;
  } catch (...) {
    ReleasePythonObject(object);
    throw;
  }
  // Last: releasing may run the old object's __del__, and the registry is
  // already consistent by then.
  if (previous != nullptr && previous != object) ReleasePythonObject(previous);
  return key;
}

std::string PythonPlugin::NewObjectId() {
  ++objectCounter;
  std::int32_t n = objectCounter;
  if (objectCounter > kGeneratedIdCap) {
    objectCounter = kGeneratedIdCap;
    n = objectRegistry.LowestFreeNumber();
  }
  std::string id;
  id.reserve(sizeof kIdPrefix - 1 + DigitCount(n));
  id.append(kIdPrefix).append(std::to_string(n));
  return id;
}

PythonObject PythonPlugin::FindObject(const char* id) const {
  return id == nullptr ? nullptr : objectRegistry.Find(id);
}

const char* PythonPlugin::RemoveObject(const char* text) {
  std::string_view id(text);
  // Trailing spaces are cut, unless nothing else would be left.
  const std::size_t last = id.find_last_not_of(' ');
  if (last != std::string_view::npos) id = id.substr(0, last + 1);
  PythonObject object = objectRegistry.Remove(id);
  if (object == nullptr) return "FALSE";
  ReleasePythonObject(object);
  return "TRUE";
}

void PythonPlugin::ClearObjects() {
  const bool release = InterpreterRunning();
  while (!objectRegistry.Empty()) {
    PythonObject object = objectRegistry.TakeFirst();
    if (release) ReleasePythonObject(object);
  }
}
