#include "requests/answer_text.h"

#include <new>

void AnswerText::Reserve(std::size_t capacity) {
  std::unique_ptr<char[]> room(new char[capacity]);  // the text stays as it is when this throws
  room[0] = '\0';
  text_ = std::move(room);
  capacity_ = capacity;
  size_ = 0;
}

void AnswerText::GiveBackStorage() noexcept {
  std::unique_ptr<char[]> smaller(new (std::nothrow) char[kFirstCapacity]);
  if (smaller == nullptr) return;
  smaller[0] = '\0';
  text_ = std::move(smaller);
  capacity_ = kFirstCapacity;
  size_ = 0;
}
