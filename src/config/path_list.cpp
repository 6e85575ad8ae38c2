#include "config/path_list.h"

#include <cstdlib>
#include <cstring>
#include <vector>

char* JoinPath(const char* head, const char* tail, const char* separator) {
  if (head == nullptr && tail == nullptr && separator == nullptr) return nullptr;
  const char* parts[] = {head ? head : "", separator ? separator : "", tail ? tail : ""};
  std::size_t lengths[3];
  std::size_t total = 0;
  for (int i = 0; i < 3; ++i) total += lengths[i] = std::strlen(parts[i]);
  char* path = static_cast<char*>(std::malloc(total + 1));
  if (path == nullptr) return nullptr;
  char* out = path;
  for (int i = 0; i < 3; ++i) {
    std::memcpy(out, parts[i], lengths[i]);
    out += lengths[i];
  }
  *out = '\0';
  return path;
}

namespace {

enum class SplitState { BetweenItems, InItem, AfterItem };

char* CopyItem(const char* start, std::size_t length) {
  char* item = static_cast<char*>(std::malloc(length + 2));
  if (item == nullptr) return nullptr;
  std::memcpy(item, start, length);
  item[length] = '\0';
  return item;
}

}  // namespace

std::int32_t SplitList(const char* text, char*** items) {
  std::vector<char*> found;
  SplitState state = SplitState::BetweenItems;
  const char* itemStart = nullptr;
  std::size_t itemLength = 0;
  auto emit = [&] { found.push_back(CopyItem(itemStart, itemLength)); };

  for (const char* c = text;; ++c) {
    const char ch = *c;
    const bool end = ch == '\0';
    switch (state) {
      case SplitState::BetweenItems:
        if (!end && ch != ' ' && ch != ',') {
          itemStart = c;
          state = SplitState::InItem;
        }
        break;
      case SplitState::InItem:
        if (ch == ' ') {
          itemLength = static_cast<std::size_t>(c - itemStart);
          state = SplitState::AfterItem;
        } else if (ch == ',' || end) {
          itemLength = static_cast<std::size_t>(c - itemStart);
          emit();
          state = SplitState::BetweenItems;
        }
        break;
      case SplitState::AfterItem:
        // Whatever follows the item's first space up to the comma is dropped.
        if (ch == ',' || end) {
          emit();
          state = SplitState::BetweenItems;
        }
        break;
    }
    if (end) break;
  }

  *items = nullptr;
  if (found.empty()) return 0;
  *items = static_cast<char**>(std::malloc(found.size() * sizeof(char*)));
  if (*items == nullptr) {
    for (char* item : found) std::free(item);
    return 0;
  }
  std::memcpy(*items, found.data(), found.size() * sizeof(char*));
  return static_cast<std::int32_t>(found.size());
}

std::int32_t FreeList(char** items, std::int32_t count) {
  if (items == nullptr) return count > 0 ? -1 : 0;
  std::int32_t freed = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    if (items[i] != nullptr) {
      std::free(items[i]);
      ++freed;
    }
  }
  std::free(items);
  return freed;
}
