#include "request_sender.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "interrupts.h"
#include "stderr_watch.h"

RequestSender::RequestSender(PluginBase* plugin, Interrupts* interrupts, StderrWatch* watch,
                             const Settings& settings)
    : plugin_(plugin), interrupts_(interrupts), watch_(watch), settings_(settings) {}

bool RequestSender::Print(const std::string& line) {
  if (outputClosed_) return false;
  outputClosed_ = std::fputs(line.c_str(), stdout) < 0 || std::fputc('\n', stdout) == EOF ||
                  std::fflush(stdout) != 0;
  return !outputClosed_;
}

// A buffer of the documented size, larger when the parameter text needs it.
// A request failed when it answered FALSE, or NONE with a reason printed:
// a NONE without one is a procedure's normal answer.
void RequestSender::Send(const std::string& function, const std::string& parameters,
                         const std::string& location) {
  if (settings_.echo && !Print("> " + function + " " + parameters)) return;
  std::vector<char> buffer(std::max(kQorvParameterBufferSize, parameters.size() + 1));
  std::memcpy(buffer.data(), parameters.c_str(), parameters.size() + 1);
  if (watch_ != nullptr) watch_->BeginRequest(location);
  interrupts_->RequestStarts();
  const std::string answer = plugin_->HandleRequest("", function.c_str(), buffer.data());
  interrupts_->RequestEnded();
  const int reasons = watch_ != nullptr ? watch_->EndRequest() : 0;
  const bool failed = answer == "FALSE" || (answer == "NONE" && reasons > 0);
  if (failed) ++failures_;
  if (failed && reasons == 0 && !location.empty() && watch_ != nullptr) {
    watch_->WriteLine(location + ": qorv-host: " + function + " answered " + answer);
  }
  Print(answer);
}

void RequestSender::SendLine(std::string line, const std::string& location) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return;
  line.erase(0, start);
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return Send(line, "", location);
  Send(line.substr(0, space), line.substr(space + 1), location);
}

void SendLines(RequestSender* sender, std::FILE* input, const std::string& name) {
  std::string line;
  for (long number = 1; !sender->Finished(); ++number) {
    line.clear();
    int c;
    while ((c = std::fgetc(input)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) return;
    sender->SendLine(line, name + ":" + std::to_string(number));
  }
}
