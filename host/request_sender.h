// Sends requests to the plugin and prints each answer on a line of its own:
// from the command line, a session file or the prompt.
#ifndef QORV_HOST_REQUEST_SENDER_H
#define QORV_HOST_REQUEST_SENDER_H

#include <cstdio>
#include <string>

#include "qorv/plugin_base.h"

class Interrupts;
class StderrWatch;

class RequestSender {
 public:
  struct Settings {
    bool echo = false;           // print "> FUNCTION PARAMETERS" first
    bool stopOnFailure = false;  // finished after the first failed request
  };
  // `watch` may be null: then only a FALSE answer shows a failure.
  RequestSender(PluginBase* plugin, Interrupts* interrupts, StderrWatch* watch,
                const Settings& settings);

  // Sends one request and prints its answer. `location` ("FILE:LINE", or
  // empty) is put before the reason lines of the request's failure.
  void Send(const std::string& function, const std::string& parameters,
            const std::string& location = "");
  // Sends "FUNCTION PARAMETERS": the name up to the first space, the raw
  // rest after it. A blank line or comment line sends nothing.
  void SendLine(std::string line, const std::string& location = "");

  // No request is to be sent any more: the answers cannot be printed, or a
  // request failed and the settings say to stop there.
  bool Finished() const { return outputClosed_ || (settings_.stopOnFailure && failures_ > 0); }
  bool outputClosed() const { return outputClosed_; }
  int failures() const { return failures_; }

 private:
  bool Print(const std::string& line);

  PluginBase* plugin_;
  Interrupts* interrupts_;
  StderrWatch* watch_;
  Settings settings_;
  bool outputClosed_ = false;
  int failures_ = 0;
};

// Sends the lines of `input` until its end or until the sender is finished.
// `name` names the input in the locations of failures.
void SendLines(RequestSender* sender, std::FILE* input, const std::string& name);

#endif  // QORV_HOST_REQUEST_SENDER_H
