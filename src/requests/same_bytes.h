// Equality of two short byte runs of a known length: the names of requests,
// modules and functions. For such runs the library's comparison costs more in
// the calling than in the comparing.
#ifndef QORV_REQUESTS_SAME_BYTES_H
#define QORV_REQUESTS_SAME_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace same_bytes_detail {
template <typename Word>
Word LoadWord(const char* bytes) {
  Word word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}
}  // namespace same_bytes_detail

// Whether the `length` bytes at `a` and `b` are equal, compared a word at a
// time (the last word overlapping the one before). Reads no byte past either run.
inline bool SameBytes(const char* a, const char* b, std::size_t length) {
  using same_bytes_detail::LoadWord;
  using Word = std::uint64_t;
  if (length >= sizeof(Word)) {
    for (std::size_t i = 0; i + sizeof(Word) < length; i += sizeof(Word)) {
      if (LoadWord<Word>(a + i) != LoadWord<Word>(b + i)) return false;
    }
    const std::size_t last = length - sizeof(Word);
    return LoadWord<Word>(a + last) == LoadWord<Word>(b + last);
  }
  using Half = std::uint32_t;
  if (length >= sizeof(Half)) {
    const std::size_t last = length - sizeof(Half);
    return LoadWord<Half>(a) == LoadWord<Half>(b) && LoadWord<Half>(a + last) == LoadWord<Half>(b + last);
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

#endif  // QORV_REQUESTS_SAME_BYTES_H
