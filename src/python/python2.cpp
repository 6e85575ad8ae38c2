// Python 2.7: started with Py_InitializeEx; its exit handlers are the
// sys.exitfunc protocol; scripts are held to the file reader's encoding rule.
#include <Python.h>

#include <algorithm>
#include <string_view>

#include "python/py_ref.h"
#include "python/python_compat.h"
#include "python/python_line.h"

namespace qorv::py {

namespace {

// Python 2 reads a script without a coding declaration as ASCII, which it
// checks only when it reads a file; a compiled text is held to the same rule.
bool DeclaresItsEncoding(const std::string& source) {
  if (source.compare(0, 3, "\xEF\xBB\xBF") == 0) return true;  // UTF-8 byte-order mark
  std::size_t start = 0;
  for (int line = 0; line < 2 && start < source.size(); ++line) {
    std::size_t end = source.find('\n', start);
    if (end == std::string::npos) end = source.size();
    const std::string_view text(source.data() + start, end - start);
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos) {
      const std::size_t coding = text.find("coding", hash);
      if (coding != std::string_view::npos && coding + 6 < text.size() &&
          (text[coding + 6] == ':' || text[coding + 6] == '=')) {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

// The layout of a module object, which moduleobject.c keeps to itself; it
// is the same in every Python 2.7 release.
struct ModuleObject {
  PyObject_HEAD
  PyObject* md_dict;
};

}  // namespace

bool StartInterpreter(const StartOptions& options, std::string* /*reason*/) {
  // Python 2 keeps the pointer: the text must outlive the interpreter.
  static std::string programName;
  if (!options.program.empty()) {
    programName = options.program;
    Py_SetProgramName(&programName[0]);
  }
  Py_InitializeEx(0);  // 0: no signal handlers (it aborts the process on failure)
  if (!Py_IsInitialized()) return false;
  PyEval_InitThreads();  // Python 2 makes the global lock only on demand
  // An embedded Python 2 has no sys.argv, on which common modules fail.
  char empty[] = "";
  char* argv[] = {empty};
  PySys_SetArgvEx(1, argv, 0);  // 0: leave sys.path alone
  return true;
}

// Python 2's finalisation calls sys.exitfunc once, where the atexit module
// registers its handlers. That module sets sys.exitfunc only when it is first
// imported, so its function stays for the next run (it empties its own list);
// any other function is called once and removed, as finalisation does.
bool RunExitHandlers() {
  PyRef exitfunc = PyRef::Borrow(PyBorrowed(SysObject("exitfunc")));
  if (!exitfunc) return true;
  PyBorrowed atexit(PyDict_GetItemString(PyImport_GetModuleDict(), "atexit"));
  PyRef runAtexit = atexit ? PyRef::Steal(PyObject_GetAttrString(atexit.get(), "_run_exitfuncs"))
                           : PyRef();
  PyErr_Clear();
  if (runAtexit.get() != exitfunc.get()) {
    PyBorrowed sys(PyImport_AddModule("sys"));
    if (!sys || PyObject_DelAttrString(sys.get(), "exitfunc") != 0) PyErr_Clear();
  }
  return static_cast<bool>(PyRef::Steal(PyObject_CallObject(exitfunc.get(), nullptr)));
}

PyObject* CompileScript(const std::string& source, const char* path) {
  if (!DeclaresItsEncoding(source)) {
    for (std::size_t i = 0; i < source.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(source[i]);
      if (c < 0x80) continue;
      const int line = 1 + static_cast<int>(std::count(source.begin(), source.begin() + i, '\n'));
      PyErr_Format(PyExc_SyntaxError,
                   "Non-ASCII character '\\x%02x' in file %s on line %d, but no encoding "
                   "declared; see http://python.org/dev/peps/pep-0263/ for details",
                   c, path, line);
      return nullptr;
    }
  }
  return Py_CompileString(source.c_str(), path, Py_file_input);
}

// A Python 2 module sets every name in its namespace to None when the module
// object goes, even while functions defined in it (a callback, a logging
// handler, sys.excepthook) still run with that namespace as their globals.
// The module is given an empty namespace instead, and the old one lives for as
// long as something uses it, like any other dict.
void DetachNamespace(PyObject* module) {
  if (module == nullptr || !PyModule_CheckExact(module)) return;
  PyObject* fresh = PyDict_New();
  if (fresh == nullptr) {
    PyErr_Clear();
    return;
  }
  auto* object = reinterpret_cast<ModuleObject*>(module);
  PyObject* old = object->md_dict;
  object->md_dict = fresh;
  Py_XDECREF(old);
}

}  // namespace qorv::py
