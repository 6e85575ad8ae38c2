#include "lifecycle/opened_plugin.h"

#include <Python.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {
PluginRun* currentRun = nullptr;
}  // namespace

// For Python code that calls the plugin again, through ctypes: a request to
// the plugin of the run in progress. The answer is valid until this thread's
// next call, as any answer is.
extern "C" __attribute__((visibility("default"))) const char* qorv_test_request(const char* function,
                                                                                const char* text) {
  static thread_local std::vector<char> buffer;
  buffer.assign(std::max(kQorvParameterBufferSize, std::strlen(text) + 1), '\0');
  std::strcpy(buffer.data(), text);
  return currentRun != nullptr ? currentRun->plugin.HandleRequest("", function, buffer.data()) : "NONE";
}

PluginRun::PluginRun() {
  currentRun = this;
  std::filesystem::copy(QORV_FIXTURES "/python", dir.path(),
                        std::filesystem::copy_options::recursive);
  dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=" + dir.path() + "\nscriptdir=scripts1\n");
  if (chdir(dir.path().c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir.path();
}

PluginRun::~PluginRun() {
  plugin.Close();
  currentRun = nullptr;
  if (chdir("/") != 0) ADD_FAILURE();
}

bool PluginRun::Open() {
  if (!plugin.Open(dir.path().c_str())) return false;
  return Ask("PyRunSimpleString", "sys.path.insert(0, '" + dir.path() + "/modules')") == "TRUE";
}

std::string PluginRun::Ask(const std::string& function, const std::string& parameters) {
  return ::Ask(plugin, function, parameters);
}

void PluginRun::Run(const std::string& source) {
  EXPECT_EQ(Ask("PyRunSimpleString", source), "TRUE") << source;
}

bool PythonErrorPending() {
  const PyGILState_STATE state = PyGILState_Ensure();
  const bool pending = PyErr_Occurred() != nullptr;
  PyGILState_Release(state);
  return pending;
}
