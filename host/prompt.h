// The interactive prompt of `qorv-host -f -` on a terminal: line editing and
// a history shared with other prompts, `help`, `exit` and `quit`, and pasted
// blocks of Python source sent as one request. The prompt, the banner and
// help go to the terminal (standard error, as Python's own prompt does), so
// that standard output carries the answers only.
#ifndef QORV_HOST_PROMPT_H
#define QORV_HOST_PROMPT_H

#include <cstdio>
#include <string>

class Interrupts;
class RequestSender;

struct PromptSettings {
  std::string banner;         // the first line shown
  std::FILE* terminal;        // where the prompt, the banner and help go
  std::string historyFile;    // empty: no history is kept
};

// Reads and sends requests until Ctrl-D, `exit` or `quit`, or until the
// sender is finished.
void RunPrompt(RequestSender* sender, Interrupts* interrupts, const PromptSettings& settings);

#endif  // QORV_HOST_PROMPT_H
