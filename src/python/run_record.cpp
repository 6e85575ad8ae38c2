#include "python/run_record.h"

#include <Python.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "python/errors.h"
#include "python/python_compat.h"
#include "python/support_module.h"
#include "python/thread_states.h"

namespace {

constexpr std::chrono::milliseconds kThreadWait(2000);
constexpr std::chrono::milliseconds kThreadPoll(5);

}  // namespace

RunRecord::~RunRecord() {
  static_cast<void>(stderrCopy_.release());
  static_cast<void>(stderrBefore_.release());
  for (PyRef& entry : pathEntries_) static_cast<void>(entry.release());
}

void RunRecord::Start(const ThreadStates& threads, const SupportModule& support,
                      const std::vector<std::string>& pythonPath, bool copyStderr) {
  signals_.Start();
  threadsAtStart_ = threads.ForeignStates();
  stderrCopy_.Reset();
  stderrBefore_.Reset();
  PyBorrowed path(qorv::py::SysObject("path"));
  for (auto entry = pythonPath.rbegin(); path && PyList_Check(path.get()) && entry != pythonPath.rend();
       ++entry) {
    PyRef text = PyRef::Steal(qorv::py::TextFromBytes(entry->c_str()));
    if (!text || PyList_Insert(path.get(), 0, text.get()) != 0) {
      ReportPythonError();
      continue;
    }
    pathEntries_.push_back(std::move(text));
  }
  if (!copyStderr) return;
  PyBorrowed stream(qorv::py::SysObject("stderr"));
  PyBorrowed tee = support.Get("_LogTee");
  if (!stream || stream.get() == Py_None || !tee) {
    PyErr_Clear();
    return;
  }
  PyRef copy = PyRef::Steal(PyObject_CallFunctionObjArgs(tee.get(), stream.get(), nullptr));
  if (!copy || !qorv::py::SetSysObject("stderr", copy.get())) {
    ReportPythonError();
    return;
  }
  stderrBefore_ = PyRef::Borrow(stream);
  stderrCopy_ = std::move(copy);
}

bool RunRecord::WaitForThreads(const ThreadStates& threads, const SupportModule& support,
                               bool everyThread) {
  PyBorrowed waitedFor = everyThread ? PyBorrowed() : support.Get("_threads_to_wait_for");
  if (!everyThread && !waitedFor) PyErr_Clear();
  const auto deadline = std::chrono::steady_clock::now() + kThreadWait;
  for (;;) {
    std::vector<PyThreadState*> pending = threads.ForeignStates();
    if (!everyThread) {
      // Threads of earlier runs were waited for by their own Close.
      pending.erase(std::remove_if(pending.begin(), pending.end(),
                                   [&](PyThreadState* state) {
                                     return std::find(threadsAtStart_.begin(), threadsAtStart_.end(),
                                                      state) != threadsAtStart_.end();
                                   }),
                    pending.end());
      PyRef idents = PyRef::Steal(PyList_New(0));
      for (PyThreadState* state : pending) {
        PyRef ident = PyRef::Steal(PyLong_FromUnsignedLong(static_cast<unsigned long>(state->thread_id)));
        if (!idents || !ident || PyList_Append(idents.get(), ident.get()) != 0) break;
      }
      PyRef waited = waitedFor && idents
                         ? PyRef::Steal(PyObject_CallFunctionObjArgs(waitedFor.get(), idents.get(), nullptr))
                         : PyRef();
      if (!waited) {
        PyErr_Clear();
        return true;
      }
      if (PyObject_Size(waited.get()) <= 0) {
        PyErr_Clear();
        return true;
      }
    } else if (pending.empty()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Py_BEGIN_ALLOW_THREADS
    std::this_thread::sleep_for(kThreadPoll);
    Py_END_ALLOW_THREADS
  }
}

void RunRecord::Undo() {
  signals_.Undo();
  PyBorrowed path(qorv::py::SysObject("path"));
  for (PyRef& entry : pathEntries_) {
    for (Py_ssize_t i = path && PyList_Check(path.get()) ? PyList_GET_SIZE(path.get()) - 1 : -1; i >= 0; --i) {
      if (PyList_GET_ITEM(path.get(), i) == entry.get() && PySequence_DelItem(path.get(), i) != 0) {
        PyErr_Clear();
      }
    }
  }
  pathEntries_.clear();
  if (stderrCopy_ && qorv::py::SysObject("stderr") == stderrCopy_.get()) {
    if (!qorv::py::SetSysObject("stderr", stderrBefore_.get())) PyErr_Clear();
  }
  stderrCopy_.Reset();
  stderrBefore_.Reset();
  threadsAtStart_.clear();
}
