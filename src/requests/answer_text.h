// The answer text that a call context keeps until the calling thread's next
// call. Assigning copies into storage that is kept from answer to answer, so
// a steady stream of answers allocates nothing and costs one copy each.
#ifndef QORV_REQUESTS_ANSWER_TEXT_H
#define QORV_REQUESTS_ANSWER_TEXT_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

class AnswerText {
 public:
  // Room for a short answer from the start; throws std::bad_alloc without it.
  AnswerText() { Reserve(kFirstCapacity); }
  AnswerText(const AnswerText&) = delete;
  AnswerText& operator=(const AnswerText&) = delete;

  const char* c_str() const { return text_.get(); }
  std::size_t size() const { return size_; }

  // Copies `length` bytes of `text` (which may hold a NUL); throws
  // std::bad_alloc when a longer answer than before finds no memory.
  void Assign(const char* text, std::size_t length) {
    if (length >= capacity_) Reserve(length + 1);
    std::memcpy(text_.get(), text, length);
    text_[length] = '\0';
    size_ = length;
  }
  void Assign(const std::string& text) { Assign(text.data(), text.size()); }

  // Gives back the storage that one huge answer made large, keeping the
  // text as it is when it cannot.
  void ShrinkIfHuge() noexcept {
    if (capacity_ > kKeptCapacity) GiveBackStorage();
  }

 private:
  static constexpr std::size_t kFirstCapacity = 64;
  static constexpr std::size_t kKeptCapacity = 65536;
  // Makes room for `capacity` bytes; the text is empty afterwards.
  void Reserve(std::size_t capacity);
  void GiveBackStorage() noexcept;

  std::unique_ptr<char[]> text_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

#endif  // QORV_REQUESTS_ANSWER_TEXT_H
