#include "bench_plugin.h"

#include <Python.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "python/py_ref.h"
#include "python/python_compat.h"
#include "requests/hot_path.h"

namespace {

char directory[] = "/tmp/qorv-bench-XXXXXX";

const char kModule[] =
    "def echo(a):\n    return a\n"
    "class Box(object):\n"
    "    def __init__(self, *items): self.items = list(items)\n"
    "    def size(self): return str(len(self.items))\n"
    "box = Box('a')\n";

void WriteFile(const char* name, const std::string& content) {
  std::FILE* file = std::fopen(name, "w");
  if (file == nullptr) std::abort();
  std::fputs(content.c_str(), file);
  std::fclose(file);
}

std::vector<char>& Buffer() {
  static std::vector<char> buffer(kQorvParameterBufferSize);
  return buffer;
}

const char* SendTo(PythonPlugin& plugin, const char* function, const std::string& parameters) {
  std::memcpy(Buffer().data(), parameters.c_str(), parameters.size() + 1);
  return plugin.HandleRequest("", function, Buffer().data());
}

void RemoveDirectory() {
  for (const char* name : {"bench_tools.py", "bench_script.py", "qorv_python.ini", "qorv_python.txt"}) {
    std::remove((std::string(directory) + "/" + name).c_str());
  }
  rmdir(directory);
}

void OpenRun(PythonPlugin& plugin) {
  if (!plugin.Open(directory)) std::abort();
  // No byte code next to the module, which goes with the directory.
  if (std::strcmp(SendTo(plugin, "PyRunSimpleString", "sys.dont_write_bytecode = True"), "TRUE") != 0) {
    std::abort();
  }
}

PythonPlugin* Open() {
  if (mkdtemp(directory) == nullptr || chdir(directory) != 0) std::abort();
  std::atexit(RemoveDirectory);
  WriteFile("bench_tools.py", kModule);
  WriteFile("bench_script.py", "script_runs = globals().get('script_runs', 0) + 1\n");
  WriteFile("qorv_python.ini", std::string("[QORV_PYTHON]\nprefix=") + directory +
                                   "\nscriptdir=.\npythonpath=.\n");
  auto* plugin = new PythonPlugin;
  OpenRun(*plugin);
  return plugin;
}

}  // namespace

PythonPlugin& BenchPlugin() {
  static PythonPlugin* plugin = Open();
  return *plugin;
}

void ReopenBenchPlugin() {
  BenchPlugin().Close();
  OpenRun(BenchPlugin());
}

const char* BenchDirectory() {
  BenchPlugin();
  return directory;
}

const char* Send(const char* function, const std::string& parameters) {
  return SendTo(BenchPlugin(), function, parameters);
}

char* HostBuffer() { return Buffer().data(); }

const char* SendBuffer(const char* function) {
  return BenchPlugin().HandleRequest("", function, Buffer().data());
}

QORV_HOT_PATH(90)
void VaryingText::Next() {
  std::memcpy(buffer_, head_.data(), head_.size());
  char* const digits = buffer_ + head_.size();
  const auto written = std::to_chars(digits, digits + 24, ++counter_);
  *written.ptr = '\0';
  length_ = static_cast<std::size_t>(written.ptr - buffer_);
}

struct Floor::State {
  PyGILState_STATE lock;
  PyRef echo;
  PyRef boxClass;
  PyRef box;
  PyRef sizeName;
  PyThreadState* saved = nullptr;
};

Floor::Floor() : state_(new State) {
  BenchPlugin();
  state_->lock = PyGILState_Ensure();
  PyRef module = PyRef::Steal(PyImport_ImportModule("bench_tools"));
  if (!module) std::abort();
  state_->echo = PyRef::Steal(PyObject_GetAttrString(module.get(), "echo"));
  state_->boxClass = PyRef::Steal(PyObject_GetAttrString(module.get(), "Box"));
  state_->box = PyRef::Steal(PyObject_GetAttrString(module.get(), "box"));
  state_->sizeName = PyRef::Steal(qorv::py::TextFromBytes("size"));
  if (!state_->echo || !state_->boxClass || !state_->box || !state_->sizeName) std::abort();
  state_->saved = PyEval_SaveThread();
}

Floor::~Floor() {
  HoldLock();
  const PyGILState_STATE lock = state_->lock;
  delete state_;
  PyGILState_Release(lock);
}

QORV_HOT_PATH(91)
void Floor::HoldLock() { PyEval_RestoreThread(state_->saved); }
QORV_HOT_PATH(94)
void Floor::ReleaseLock() { state_->saved = PyEval_SaveThread(); }

namespace {

// The answer copied out as text, as a request's answer is.
QORV_HOT_PATH(93)
void CopyAnswer(PyObject* result, std::string* answer) {
  if (result == nullptr) std::abort();
  qorv::py::ResultText(result, answer);
  Py_DECREF(result);
}

}  // namespace

QORV_HOT_PATH(92)
void Floor::Call(const char* argument, std::size_t length, bool takeLock) {
  if (takeLock) HoldLock();
  PyRef args = PyRef::Steal(PyTuple_New(1));
  PyTuple_SET_ITEM(args.get(), 0, qorv::py::TextFromBytes(argument, length));
  CopyAnswer(PyObject_CallObject(state_->echo.get(), args.get()), &answer_);
  args.Reset();
  if (takeLock) ReleaseLock();
}

QORV_HOT_PATH(95)
void Floor::CallMethod(bool takeLock) {
  if (takeLock) HoldLock();
  PyRef method = PyRef::Steal(PyObject_GetAttr(state_->box.get(), state_->sizeName.get()));
  CopyAnswer(PyObject_CallObject(method.get(), nullptr), &answer_);
  method.Reset();
  if (takeLock) ReleaseLock();
}

QORV_HOT_PATH(96)
void Floor::CreateAndDrop(bool takeLock) {
  if (takeLock) HoldLock();
  PyRef box = PyRef::Steal(PyObject_CallObject(state_->boxClass.get(), nullptr));
  if (!box) std::abort();
  box.Reset();
  if (takeLock) ReleaseLock();
}
