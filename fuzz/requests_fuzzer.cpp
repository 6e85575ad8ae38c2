// Drives HandleRequest with a running interpreter. The first byte picks the
// function name (the six requests and near misses); the rest is the parameter
// text. Calls can reach only the harmless module fuzz_tools, and code strings
// are picked from a fixed list, so that the fuzzer fuzzes the plugin and not
// Python itself.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <Python.h>

#include "plugin/python_plugin.h"

namespace {

PythonPlugin* plugin = nullptr;
char directory[] = "/tmp/qorv-fuzz-XXXXXX";

// The scratch directory goes with the process.
void RemoveDirectory() {
  for (const char* name : {"qorv_python.ini", "qorv_python.txt"}) {
    std::remove((std::string(directory) + "/" + name).c_str());
  }
  rmdir(directory);
}

const char* const kFunctionNames[] = {
    "PyCallObject",     "PyRunSimpleString",  "PyRunSimpleFile", "PyCreateObject",
    "PyRemoveObject",   "PyCallObjectMethod", "PyCallObjec",     "pycallobject",
    "PyCallObject ",    "PyRunSimpleStrin",   "",                "PyCallObjectMethodX",
};

const char* const kStatements[] = {
    "x = 1", "x += 1", "raise ValueError('fuzz')", "raise SystemExit(3)", "import sys; sys.exit()",
    "raise KeyboardInterrupt", "def f(:", "", "del x", "import json, datetime",
    "y = [i for i in range(100)]",
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The settings file is read from the current directory at Open only; the
  // fuzzer then goes back where it was started, where its paths are relative to.
  char started[4096];
  if (getcwd(started, sizeof started) == nullptr || mkdtemp(directory) == nullptr ||
      chdir(directory) != 0) {
    std::abort();
  }
  std::atexit(RemoveDirectory);
  const std::string settings = std::string("[QORV_PYTHON]\nprefix=") + QORV_FUZZ_MODULES +
                               "/..\nscriptdir=scripts\n";
  std::FILE* file = std::fopen("qorv_python.ini", "w");
  std::fputs(settings.c_str(), file);
  std::fclose(file);
  plugin = new PythonPlugin;
  if (!plugin->Open(directory) || chdir(started) != 0) std::abort();
  // Quiet: the tracebacks of failing requests are not what is fuzzed, and
  // printing them would slow the fuzzer down several times.
  const std::string path = std::string("sys.path.insert(0, '") + QORV_FUZZ_MODULES +
                           "'); import os; sys.stderr = open(os.devnull, 'w', errors='backslashreplace')";
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  if (std::strcmp(plugin->HandleRequest("", "PyRunSimpleString", buffer.data()), "TRUE") != 0) {
    std::abort();
  }
  std::freopen("/dev/null", "w", stdout);  // script paths
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const char* name = kFunctionNames[data[0] % (sizeof kFunctionNames / sizeof *kFunctionNames)];
  std::string parameters(reinterpret_cast<const char*>(data + 1), size - 1);
  parameters = parameters.c_str();  // the host's text ends at its first NUL
  if (std::strcmp(name, "PyRunSimpleString") == 0) {
    const std::size_t pick = parameters.empty() ? 0 : static_cast<unsigned char>(parameters[0]);
    parameters = kStatements[pick % (sizeof kStatements / sizeof *kStatements)];
  } else if (std::strcmp(name, "PyRunSimpleFile") == 0) {
    // Only names inside the fuzz scripts directory: any other file of the
    // machine would run as Python.
    for (char& c : parameters) {
      if (c == '/') c = '_';
    }
  } else if (std::strncmp(name, "PyC", 3) == 0) {
    // A later tag replaces an earlier one, so this fixes the module; a text
    // left inside quotes swallows it and is then rejected as malformed.
    parameters += " PYMOD=fuzz_tools";
  }
  std::vector<char> buffer(std::max<std::size_t>(kQorvParameterBufferSize, parameters.size() + 1));
  std::memcpy(buffer.data(), parameters.c_str(), parameters.size() + 1);
  const char* answer = plugin->HandleRequest("", name, buffer.data());
  Check(answer != nullptr);
  Check(std::strncmp(answer, buffer.data(), kQorvParameterBufferSize - 1) == 0);
  const PyGILState_STATE lock = PyGILState_Ensure();
  Check(PyErr_Occurred() == nullptr);
  PyGILState_Release(lock);
  return 0;
}
