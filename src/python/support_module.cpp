#include "python/support_module.h"

#include <Python.h>

#include "python/errors.h"
#include "python/python_compat.h"

namespace {

constexpr const char kModuleName[] = "qorv_python";

// Runs in the module's namespace, on Python 2.7 and every Python 3.
constexpr const char kSource[] = R"(
class RequestStopped(BaseException):
    """Raised in a request's Python code when the host stops the request.

    It derives from BaseException, so that 'except Exception:' lets it pass.
    """
    message = 'the request was stopped'

    def __init__(self, *args):
        BaseException.__init__(self, *(args or (type(self).message,)))


class RequestTimedOut(RequestStopped):
    """The request ran longer than its time limit (the setting timeout)."""
    message = 'the request ran longer than its time limit'


class RequestInterrupted(RequestStopped):
    """The host asked the request to stop (the request PyInterrupt)."""
    message = 'the request was interrupted by the host'


class _LogTee(object):
    """Stands for sys.stderr while the plugin's log keeps a copy of it."""

    def __init__(self, stream):
        self._stream = stream

    def write(self, text):
        _log(text)
        return self._stream.write(text)

    def writelines(self, lines):
        for line in lines:
            self.write(line)

    def __getattr__(self, name):
        return getattr(self._stream, name)


def _threads_to_wait_for(idents):
    """Of the Python threads with these idents, those that Python itself
    waits for at exit: threading's non-daemon threads, less the idle workers
    of thread pools, which only wait for work."""
    import sys
    threading = sys.modules.get('threading')
    if threading is None:
        return []
    frames = sys._current_frames()
    waited = []
    for ident in idents:
        thread = threading._active.get(ident)
        if thread is None or thread.daemon:
            continue
        frame = frames.get(ident)
        if (frame is not None and frame.f_code.co_name == '_worker'
                and frame.f_globals.get('__name__') == 'concurrent.futures.thread'):
            continue
        waited.append(ident)
    # Threads started a moment ago are not in _active yet.
    for thread in list(getattr(threading, '_limbo', {})):
        if not thread.daemon:
            waited.append(thread.ident)
    return waited


def _set_aside_interpreter_exit_hooks():
    """Takes out of the at-exit registry the hooks of modules that end what
    they serve for good (thread and process pools, logging's handlers), while
    a run's hooks run at Close and the interpreter, and those modules, live
    on. Returns what _restore_interpreter_exit_hooks puts back."""
    import sys
    hooks = []
    logging = sys.modules.get('logging')
    if logging is not None:
        hooks.append(logging.shutdown)
    for name, attribute in (('concurrent.futures.thread', '_python_exit'),
                            ('concurrent.futures.process', '_python_exit'),
                            ('multiprocessing.util', '_exit_function')):
        module = sys.modules.get(name)
        if module is not None and hasattr(module, attribute):
            hooks.append(getattr(module, attribute))
    atexit = sys.modules.get('atexit')
    if atexit is None or not hooks:
        return []
    if hasattr(atexit, '_exithandlers'):  # Python 2 keeps them in a list
        aside = [entry for entry in atexit._exithandlers if entry[0] in hooks]
        atexit._exithandlers[:] = [e for e in atexit._exithandlers if e[0] not in hooks]
        return aside
    aside = []
    for hook in hooks:
        count = atexit._ncallbacks()
        atexit.unregister(hook)
        if atexit._ncallbacks() < count:
            aside.append((hook, (), {}))
    return aside


def _restore_interpreter_exit_hooks(aside):
    import atexit
    if hasattr(atexit, '_exithandlers'):
        atexit._exithandlers[:0] = aside
        return
    for hook, args, kwargs in aside:
        atexit.register(hook, *args, **kwargs)


def _prepare_threading_for_shutdown():
    """Before the interpreter is shut down from this thread: threading's
    main thread, when it is another (host) thread, counts as ended, and the
    hooks that stop thread pools run, as Python's own shutdown would run them."""
    import sys
    threading = sys.modules.get('threading')
    if threading is None:
        return
    main = threading._main_thread
    get_ident = getattr(threading, 'get_ident', None) or threading._get_ident
    if main.ident != get_ident():
        lock = getattr(main, '_tstate_lock', None)
        if lock is not None and lock.locked():
            lock.release()
        if lock is not None:
            main._stop()
    for call in reversed(getattr(threading, '_threading_atexits', [])):
        call()
)";

// qorv_python._log(text): a copy of what is written to sys.stderr, for the log.
PyObject* Log(PyObject* /*module*/, PyObject* text) {
  PyRef owner;
  Py_ssize_t length = 0;
  if (const char* chars = qorv::py::ResultChars(text, &owner, &length)) {
    CopyStderrText(chars, static_cast<std::size_t>(length));
  }
  PyErr_Clear();  // text that cannot be encoded is left out of the log, not the stream
  Py_INCREF(Py_None);
  return Py_None;
}

PyMethodDef kLogMethod = {"_log", reinterpret_cast<PyCFunction>(&Log), METH_O,
                          "Copies text written to sys.stderr into the plugin's log."};

}  // namespace

SupportModule::~SupportModule() { static_cast<void>(module_.release()); }

bool SupportModule::Create() {
  PyRef module = PyRef::Steal(PyModule_New(kModuleName));
  if (!module) return false;
  PyObject* globals = PyModule_GetDict(module.get());
  PyRef log = PyRef::Steal(PyCFunction_NewEx(&kLogMethod, nullptr, nullptr));
  if (!log || PyDict_SetItemString(globals, "_log", log.get()) != 0 ||
      PyDict_SetItemString(globals, "__builtins__", PyEval_GetBuiltins()) != 0) {
    return false;
  }
  PyRef ran = PyRef::Steal(PyRun_String(kSource, Py_file_input, globals, globals));
  if (!ran || PyDict_SetItemString(PyImport_GetModuleDict(), kModuleName, module.get()) != 0) {
    return false;
  }
  module_ = std::move(module);
  SetStopException(Get("RequestStopped").get());
  return true;
}

void SupportModule::Release() {
  SetStopException(nullptr);
  module_.Reset();
}

PyBorrowed SupportModule::Get(const char* name) const {
  PyObject* found = module_ ? PyDict_GetItemString(PyModule_GetDict(module_.get()), name) : nullptr;
  if (found == nullptr && !PyErr_Occurred()) {
    PyErr_Format(PyExc_AttributeError, "qorv_python has no '%s'", name);
  }
  return PyBorrowed(found);
}


PyRef SupportModule::Call(const char* name, PyBorrowed argument) const {
  PyBorrowed function = Get(name);
  if (!function) return PyRef();
  return PyRef::Steal(argument ? PyObject_CallFunctionObjArgs(function.get(), argument.get(), nullptr)
                               : PyObject_CallObject(function.get(), nullptr));
}
