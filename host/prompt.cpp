#include "prompt.h"

#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(QORV_HAVE_READLINE)
#include <readline/history.h>
#include <readline/readline.h>
#endif

#include "history_file.h"
#include "interrupts.h"
#include "request_sender.h"

namespace {

constexpr std::size_t kHistoryEntries = 1000;
const char kPrompt[] = "qorv> ";

const char kHelp[] =
    "Requests, one a line: FUNCTION PARAMETERS\n"
    "  PyCallObject PYMOD=module PYOBJ=function [ARG ...]    answers the text it returns\n"
    "  PyCreateObject PYMOD=module PYOBJ=callable [SETID=id] [ARG ...]  answers the id\n"
    "  PyCallObjectMethod PYOBJ=id PYOMD=method [ARG ...]    answers the text it returns\n"
    "  PyRemoveObject ID                    TRUE when an object was held under ID\n"
    "  PyRunSimpleString CODE               TRUE when the code ran to its end\n"
    "  PyRunSimpleFile SCRIPT               the same for a script in the script directories\n"
    "Tokens are separated by spaces; a token that starts with ' is quoted and may hold\n"
    "spaces, and in it \\ takes the next character as it is. A pasted block of Python\n"
    "after PyRunSimpleString is one request. exit, quit or Ctrl-D leaves; Ctrl-C drops\n"
    "the line being typed, or asks a running request to stop.\n";

// Every request the plugin knows: a pasted line that starts with one begins
// a request of its own.
const char* const kRequestNames[] = {"PyCallObject",      "PyCreateObject",    "PyCallObjectMethod",
                                     "PyRemoveObject",    "PyRunSimpleString", "PyRunSimpleFile",
                                     "PyInterrupt"};

std::string FirstWord(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  const std::size_t end = line.find_first_of(" \t\r", start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Trimmed(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  return line.substr(start, line.find_last_not_of(" \t\r") - start + 1);
}

bool IsRequestName(const std::string& word) {
  for (const char* name : kRequestNames) {
    if (word == name) return true;
  }
  return false;
}

// The requests in what was entered at once (a typed line, or a pasted block
// of several). Each line is a request as in a session file, except that the
// lines after a PyRunSimpleString line continue its code until one starts
// with a request name: a pasted `for` loop or class is one request.
std::vector<std::string> SplitRequests(const std::string& entered) {
  std::vector<std::string> requests;
  bool inCode = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = entered.find('\n', start);
    std::string line = entered.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string word = FirstWord(line);
    if (inCode && !IsRequestName(word)) {
      requests.back() += "\n" + line;
    } else {
      requests.push_back(line);
      inCode = word == "PyRunSimpleString";
    }
    if (end == std::string::npos) return requests;
    start = end + 1;
  }
}

struct Prompt {
  RequestSender* sender;
  Interrupts* interrupts;
  const PromptSettings& settings;
  HistoryFile history;
  bool ended = false;

  void Say(const char* text) const {
    std::fputs(text, settings.terminal);
    std::fflush(settings.terminal);
  }

  // Keeps what was entered, then runs it. True when the prompt is to end.
  bool Entered(const std::string& entered) {
    if (FirstWord(entered).empty() && entered.find('\n') == std::string::npos) return false;
    Remember(entered);
    for (const std::string& request : SplitRequests(entered)) {
      const std::string word = Trimmed(request);
      if (word == "exit" || word == "quit") return true;
      if (word == "help") {
        Say(kHelp);
        continue;
      }
      sender->SendLine(request);
      if (sender->Finished()) return true;
    }
    return false;
  }

  void Remember(const std::string& entered) const {
#if defined(QORV_HAVE_READLINE)
    add_history(entered.c_str());
#endif
    history.Append(entered);
  }
};

#if defined(QORV_HAVE_READLINE)

// readline's callback interface under select, so that Ctrl-C, which the
// prompt sees only while a line is typed, drops that line. The callback
// takes no context of its own.
Prompt* current = nullptr;

void LineEntered(char* line) {
  rl_callback_handler_remove();  // no prompt while the request runs
  current->interrupts->TypingEnded();
  if (line == nullptr) {  // Ctrl-D
    current->Say("\n");
    current->ended = true;
    return;
  }
  const std::string entered = line;
  std::free(line);
  current->ended = current->Entered(entered);
  if (current->ended) return;
  current->interrupts->TypingStarts();
  rl_callback_handler_install(kPrompt, LineEntered);
}

void ReadLines(Prompt* prompt) {
  rl_readline_name = "qorv-host";
  rl_instream = stdin;
  rl_outstream = prompt->settings.terminal;
  stifle_history(static_cast<int>(kHistoryEntries));
  for (const std::string& entry : prompt->history.Load()) add_history(entry.c_str());
  current = prompt;
  prompt->interrupts->TypingStarts();
  rl_callback_handler_install(kPrompt, LineEntered);
  while (!prompt->ended) {
    fd_set input;
    FD_ZERO(&input);
    FD_SET(STDIN_FILENO, &input);
    const int ready = select(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr);
    if (prompt->interrupts->TakeTypedInterrupt()) {
      rl_replace_line("", 0);
      prompt->Say("^C\n");
      rl_on_new_line();
      rl_redisplay();
      continue;
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    rl_callback_read_char();
  }
  if (!prompt->ended) rl_callback_handler_remove();
  prompt->interrupts->TypingEnded();
  current = nullptr;
}

#else

// Without readline: a prompt before each line, no editing. Ctrl-C ends
// qorv-host here as it does between requests.
void ReadLines(Prompt* prompt) {
  std::string line;
  while (!prompt->ended) {
    prompt->Say(kPrompt);
    line.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) {
      prompt->Say("\n");
      return;
    }
    prompt->ended = prompt->Entered(line);
  }
}

#endif

}  // namespace

void RunPrompt(RequestSender* sender, Interrupts* interrupts, const PromptSettings& settings) {
  Prompt prompt{sender, interrupts, settings, HistoryFile(settings.historyFile, kHistoryEntries)};
  prompt.Say((settings.banner + "\n").c_str());
  ReadLines(&prompt);
}
