// The answer text a call context keeps: each answer whole and NUL-ended,
// whatever the length of the one before; a huge one's storage given back.
#include "requests/answer_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AnswerText, HoldsEachAnswerWholeAfterShorterAndLongerOnes) {
  AnswerText answer;
  EXPECT_STREQ(answer.c_str(), "");
  for (const std::size_t length : {5, 0, 63, 64, 65, 200000, 3, 70000}) {
    const std::string text(length, static_cast<char>('a' + length % 26));
    answer.Assign(text);
    EXPECT_EQ(answer.size(), length);
    EXPECT_EQ(std::string(answer.c_str()), text) << length;
    // Given back only after a huge answer, keeping nothing of it.
    answer.ShrinkIfHuge();
    if (length > 65536) {
      EXPECT_STREQ(answer.c_str(), "") << length;
    } else {
      EXPECT_EQ(std::string(answer.c_str()), text) << length;
    }
  }
  const char bytes[] = {'x', '\0', 'y'};
  answer.Assign(bytes, sizeof bytes);  // bytes after a NUL are copied, and the text still ends
  EXPECT_EQ(answer.size(), 3u);
  EXPECT_EQ(answer.c_str()[2], 'y');
  EXPECT_EQ(answer.c_str()[3], '\0');
}

}  // namespace
