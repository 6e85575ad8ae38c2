// The dispatcher with a table of stand-in handlers: no interpreter needed.
#include "requests/dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>


namespace {

struct FakeHandlers {
  const char* Parsed(const Request& request) {
    seen.push_back(std::string("parsed:") + (request.args->module ? request.args->module : "-"));
    return "parsed answer";
  }
  const char* Raw(const Request& request) {
    seen.push_back(std::string("raw:") + request.text + (request.args == nullptr ? "" : "+args"));
    return "";
  }
  const char* Failing(const Request&) { return nullptr; }
  const char* Long(const Request&) { return longAnswer.c_str(); }
  const char* Throwing(const Request&) { throw std::runtime_error("thrown"); }
  void RequestFailed(const Request& request, const std::string& why) {
    failures.push_back(std::string(request.functionName) + ": " + why);
  }
  void RequestServed(const Request& request, const char* answer) {
    served.push_back(std::string(request.text) + " -> " + (answer ? answer : "null"));
  }
  std::vector<std::string> seen, failures, served;
  std::string longAnswer = std::string(100, 'a');
};

constexpr RequestRow<FakeHandlers> kRows[] = {
    {"Parse", true, false, &FakeHandlers::Parsed},
    {"Raw", false, false, &FakeHandlers::Raw},
    {"Fail", false, false, &FakeHandlers::Failing},
    {"Throw", false, false, &FakeHandlers::Throwing},
    {"ParseLonger", true, false, &FakeHandlers::Parsed},
    {"Long", false, false, &FakeHandlers::Long},
    {"AtOnce", false, true, &FakeHandlers::Raw},
};

class DispatcherTest : public ::testing::Test {
 protected:
  // The answer returned, and what the buffer holds afterwards.
  std::pair<std::string, std::string> Send(const char* name, const std::string& text) {
    std::vector<char> buffer(kBufferSize);
    std::copy(text.begin(), text.end(), buffer.begin());
    const char* answer =
        dispatcher.Dispatch(handlers, dispatcher.Find(name), name, buffer.data(), args, answerText);
    return {answer, buffer.data()};
  }
  static constexpr std::size_t kBufferSize = 64;
  FakeHandlers handlers;
  Dispatcher<FakeHandlers> dispatcher{kRows, kBufferSize};
  RequestArgs args;
  AnswerText answerText;
};

TEST_F(DispatcherTest, FindsWholeNamesOnly) {
  EXPECT_EQ(dispatcher.Find("Parse"), &kRows[0]);
  EXPECT_EQ(dispatcher.Find("ParseLonger"), &kRows[4]);
  EXPECT_EQ(dispatcher.Find("AtOnce")->servedAtOnce, true);
  for (const char* name : {"parse", "Parse ", "Pars", ""}) EXPECT_EQ(dispatcher.Find(name), nullptr) << name;
}

TEST_F(DispatcherTest, RowsParseOnlyWhenTheyAsk) {
  EXPECT_EQ(Send("Parse", "PYMOD=m x").first, "parsed answer");
  EXPECT_EQ(Send("Raw", "PYMOD=m 'unclosed").first, "");  // an empty answer is an answer
  EXPECT_EQ(Send("ParseLonger", "x").second, "parsed answer");
  EXPECT_EQ(handlers.seen,
            (std::vector<std::string>{"parsed:m", "raw:PYMOD=m 'unclosed", "parsed:-"}));
  EXPECT_TRUE(handlers.failures.empty());
}

TEST_F(DispatcherTest, EveryRequestWithoutAnAnswerGetsNoneAndItsReason) {
  struct Case {
    const char* name;
    const char* text;
    const char* failure;  // null: the handler says nothing itself
  } cases[] = {
      {"parse", "x", "parse: no request is named 'parse'"},
      {"Parse ", "x", "Parse : no request is named 'Parse '"},
      {"Parse", "a 'b c", "Parse: parameter text rejected at byte 2: the quote that opens here is not closed"},
      {"Parse", "'a'b", "Parse: parameter text rejected at byte 3: only a space may follow a closing quote"},
      {"Fail", "x", nullptr},
      {"Throw", "x", nullptr},
  };
  for (const Case& c : cases) {
    handlers.failures.clear();
    const auto [answer, buffer] = Send(c.name, c.text);
    EXPECT_EQ(answer, "NONE") << c.name;
    EXPECT_EQ(buffer, "NONE") << c.name;
    EXPECT_EQ(handlers.failures, c.failure ? std::vector<std::string>{c.failure}
                                           : std::vector<std::string>{})
        << c.name;
  }
  EXPECT_TRUE(handlers.seen.empty());
}

TEST_F(DispatcherTest, ServedRequestsAreSeenWithTheirTextIntact) {
  Send("Parse", "PYMOD=m");
  Send("Fail", "text");
  Send("Unknown", "other");
  EXPECT_EQ(handlers.served, (std::vector<std::string>{"PYMOD=m -> parsed answer", "text -> null",
                                                       "other -> null"}));
}

// The buffer takes at most its size, NUL included; the returned text is whole.
TEST_F(DispatcherTest, LongAnswerIsCutToTheBuffer) {
  const auto [answer, buffer] = Send("Long", "x");
  EXPECT_EQ(answer, std::string(100, 'a'));
  EXPECT_EQ(buffer, std::string(kBufferSize - 1, 'a'));
}

TEST_F(DispatcherTest, RefusingWritesNoneWithoutLookingAtTheRequest) {
  std::vector<char> buffer(kBufferSize, 'x');
  EXPECT_STREQ(dispatcher.Refuse(buffer.data()), "NONE");
  EXPECT_STREQ(buffer.data(), "NONE");
  EXPECT_TRUE(handlers.served.empty());
}

}  // namespace
