// Ids to held Python objects. The registry sees an object only as an opaque
// pointer; holding and releasing references is the Python bridge's business.
#ifndef QORV_REQUESTS_OBJECT_REGISTRY_H
#define QORV_REQUESTS_OBJECT_REGISTRY_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct _object;  // Python's object type, opaque outside src/python/
using PythonObject = _object*;

// Releases one reference; defined by the Python bridge.
void ReleasePythonObject(PythonObject object);

// Decimal digits of n plus one (0..9 give 2), for sizing id texts.
int DigitCount(std::int32_t n);

class ObjectRegistry {
 public:
  using Entries = std::map<std::string, PythonObject, std::less<>>;

  // The object held under exactly `id`, or null.
  PythonObject Find(std::string_view id) const;

  // Holds `object` under `id`. Returns the key text the registry keeps and the
  // object that the entry held before (null for a new entry); the caller
  // releases that one.
  std::pair<const std::string*, PythonObject> Insert(std::string id, PythonObject object);

  // Takes the entry of `id` out; returns its object, or null when absent.
  PythonObject Remove(std::string_view id);

  // Takes the first entry (in id order) out; returns its object.
  PythonObject TakeFirst();

  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }
  const Entries& entries() const { return entries_; }

  // The lowest n >= 0 for which no entry is held under "o_n"; O(log n).
  std::int32_t LowestFreeNumber() const;

 private:
  // The number of an id of the generated form "o_<digits>" (no sign, no
  // leading zero), or -1 for any other id.
  static std::int64_t GeneratedNumber(std::string_view id);
  void MarkHeld(std::int64_t n);
  void MarkFree(std::int64_t n);

  Entries entries_;
  // Held generated numbers as disjoint runs first -> last, so that the lowest
  // free number is found at the front without scanning.
  std::map<std::int64_t, std::int64_t> heldRuns_;
};

#endif  // QORV_REQUESTS_OBJECT_REGISTRY_H
