// Objects held under text ids between requests. The registry sees an object
// only as an opaque pointer: it holds one reference per entry and gives it
// back through the release function it was made with.
#ifndef QORV_REQUESTS_OBJECT_REGISTRY_H
#define QORV_REQUESTS_OBJECT_REGISTRY_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct _object;  // Python's object type, opaque outside src/python/
using PythonObject = _object*;

// Decimal digits of n plus one (0..9 give 2): the size of an id's number
// with its terminating NUL, for sizing id texts.
int DigitCount(std::int32_t n);

class ObjectRegistry {
 public:
  using Release = void (*)(PythonObject object);
  using Entries = std::map<std::string, PythonObject, std::less<>>;

  explicit ObjectRegistry(Release release) : release_(release) {}
  ObjectRegistry(const ObjectRegistry&) = delete;
  ObjectRegistry& operator=(const ObjectRegistry&) = delete;

  // Holds `object` (its reference is taken over, even when this throws) under
  // `id`, or under a generated id when `id` is null. An object held under the
  // same id before is released, last (its release may run code that changes
  // the registry). Returns the id.
  std::string Register(PythonObject object, const char* id);

  // "o_1", "o_2", ... up to "o_30000" after ResetCounter; from then on the
  // lowest "o_N" (from o_0) that holds no object.
  std::string NewObjectId();
  void ResetCounter() { objectCounter_ = 0; }
  std::int32_t objectCounter() const { return objectCounter_; }
  void SetObjectCounter(std::int32_t counter) { objectCounter_ = counter; }

  // The object held under exactly `id` (lent: the registry keeps it), or null.
  PythonObject Find(std::string_view id) const;

  // Releases the object held under `id`; false when there is none.
  bool Remove(std::string_view id);

  // Removes every entry, in id order, releasing the objects when `release`
  // is true (false when the interpreter they belong to is gone).
  void Clear(bool release);

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
  PythonObject Take(Entries::iterator entry);

  Release release_;
  std::int32_t objectCounter_ = 0;
  Entries entries_;
  // Held generated numbers as disjoint runs first -> last, so that the lowest
  // free number is found at the front without scanning.
  std::map<std::int64_t, std::int64_t> heldRuns_;
};

#endif  // QORV_REQUESTS_OBJECT_REGISTRY_H
