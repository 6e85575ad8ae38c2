// Text helpers for directory paths and comma lists. Results are malloc'd C
// texts and arrays that the caller owns.
#ifndef QORV_CONFIG_PATH_LIST_H
#define QORV_CONFIG_PATH_LIST_H

#include <cstdint>

// The separator put between path parts on this platform.
#if defined(_WIN32)
constexpr const char kPathSeparator[] = "\\";
#else
constexpr const char kPathSeparator[] = "/";
#endif

// head + separator + tail, allocated to exactly fit. Null when all three are
// null; a null part otherwise counts as empty.
char* JoinPath(const char* head, const char* tail, const char* separator);

// Splits a comma list into its items. An item runs from its first non-space
// character to the first space, comma or end after it; what stands between
// that space and the next comma is dropped. Only 0x20 is a space. Returns the
// number of items and stores a new array of new texts in *items, or null when
// there are none. Release with FreeList.
std::int32_t SplitList(const char* text, char*** items);

// Frees the non-null entries among the first `count` and the array itself.
// Returns the number of entries freed; with a null array, -1 when count is
// positive and 0 otherwise.
std::int32_t FreeList(char** items, std::int32_t count);

#endif  // QORV_CONFIG_PATH_LIST_H
