#include <cstring>

#include "plugin/python_plugin.h"

namespace {

using Handler = const char* (PythonPlugin::*)(const char* parameters);

struct Request {
  const char* functionName;
  Handler handler;
};

// Compared in this order; adding a request is one row.
constexpr Request kRequests[] = {
    {"PyCallObject", &PythonPlugin::HandleCallObject},
    {"PyRunSimpleString", &PythonPlugin::HandleRunString},
    {"PyRunSimpleFile", &PythonPlugin::HandleRunFile},
    {"PyCreateObject", &PythonPlugin::HandleCreateObject},
    {"PyRemoveObject", &PythonPlugin::RemoveObject},
    {"PyCallObjectMethod", &PythonPlugin::HandleCallObjectMethod},
};

Handler FindHandler(const char* functionName) {
  for (const Request& request : kRequests) {
    if (std::strcmp(request.functionName, functionName) == 0) return request.handler;
  }
  return nullptr;
}

// Copies the answer into the host's buffer, never past its documented size:
// a longer answer is cut there. The returned pointer carries the whole text.
void CopyAnswer(const char* answer, char* buffer) {
  std::size_t length = std::strlen(answer);
  if (length > kQorvParameterBufferSize - 1) length = kQorvParameterBufferSize - 1;
  std::memmove(buffer, answer, length);
  buffer[length] = '\0';
}

}  // namespace

const char* PythonPlugin::HandleRequest(const char* /*hostArgument*/, const char* functionName,
                                        char* parameters) {
  ReclaimRequestMemory();
  const char* answer = nullptr;
  try {
    if (InterpreterRunning() && functionName != nullptr && parameters != nullptr) {
      if (Handler handler = FindHandler(functionName)) answer = (this->*handler)(parameters);
    }
  } catch (...) {
    // Nothing may cross the boundary; a failed handler has no answer.
    answer = nullptr;
  }
  if (answer == nullptr) answer = "NONE";
  if (parameters != nullptr) CopyAnswer(answer, parameters);
  return answer;
}
