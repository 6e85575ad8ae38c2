#include "python/python_library.h"

#include <Python.h>

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const std::string kProgramName = "python" + std::to_string(PY_MAJOR_VERSION) + "." +
                                 std::to_string(PY_MINOR_VERSION);

std::string Parent(const std::string& path, char separator) {
  const std::size_t at = path.rfind(separator);
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

}  // namespace

#if defined(_WIN32)

void MakePythonSymbolsGlobal() {}  // a DLL's exports are every module's to use

namespace {
// The Python DLL: pythonXY.dll sits beside python.exe.
std::string PythonLibraryPath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&Py_IsInitialized), &module)) {
    return "";
  }
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  return length == 0 || length == MAX_PATH ? std::string() : std::string(path, length);
}
}  // namespace

std::string InterpreterProgram() {
  const std::string program = Parent(PythonLibraryPath(), '\\') + "\\python.exe";
  const DWORD attributes = GetFileAttributesA(program.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "";
  return program;
}

// The C runtime's signal() acts per runtime library, and the Python DLL has
// its own: nothing Python does reaches the host's handlers.
bool IsInPythonLibrary(void*) { return false; }

#else

namespace {

Dl_info PythonLibraryInfo() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&Py_IsInitialized), &info) == 0) info = Dl_info{};
  return info;
}

bool IsProgram(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

void MakePythonSymbolsGlobal() {
  static bool done = false;
  if (done) return;
  done = true;
  const Dl_info info = PythonLibraryInfo();
  if (info.dli_fname != nullptr) {
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);  // never closed, on purpose
  }
}

std::string InterpreterProgram() {
  const Dl_info info = PythonLibraryInfo();
  if (info.dli_fname == nullptr) return "";
  // The library's real place: the loader may name it through a link, as
  // Debian's /lib (a link to usr/lib) is named for /usr/lib.
  char* real = realpath(info.dli_fname, nullptr);
  const std::string library = real != nullptr ? real : info.dli_fname;
  std::free(real);
  // <prefix>/lib/libpythonX.Y.so, or Debian's <prefix>/lib/<multiarch>/libpythonX.Y.so.
  std::string directory = Parent(Parent(library, '/'), '/');
  for (int level = 0; level < 2 && !directory.empty(); ++level) {
    const std::string program = directory + "/bin/" + kProgramName;
    if (IsProgram(program)) return program;
    directory = Parent(directory, '/');
  }
  return "";
}

bool IsInPythonLibrary(void* function) {
  static const void* const pythonBase = PythonLibraryInfo().dli_fbase;
  Dl_info info{};
  return pythonBase != nullptr && dladdr(function, &info) != 0 && info.dli_fbase == pythonBase;
}

#endif
