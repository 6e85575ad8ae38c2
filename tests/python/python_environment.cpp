#include <Python.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "python/python_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Shared {
  TempDir root;
  PythonPlugin plugin;
};
Shared* shared = nullptr;

class PythonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    shared = new Shared;
    const std::string& root = shared->root.path();
    fs::copy(QORV_FIXTURES "/python", root, fs::copy_options::recursive);
    shared->root.Write("qorv_python.ini",
                       "[QORV_PYTHON]\nprefix=" + root + "\nscriptdir=scripts1,scripts2,scripts3\n");
    fs::create_directory(root + "/scripts1/dir.py");  // a directory where a script is looked for
    shared->root.Write("scripts1/spaced.py ", "spaced = True\n");
    if (chdir(root.c_str()) != 0) FAIL() << "cannot enter " << root;
    ASSERT_TRUE(shared->plugin.Open(root.c_str()));
    ASSERT_EQ(Ask("PyRunSimpleString", "sys.path.insert(0, '" + root + "/modules')"), "TRUE");
  }
  void TearDown() override {
    shared->plugin.Close();
    if (chdir("/") != 0) FAIL();
    delete shared;
    shared = nullptr;
  }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new PythonEnvironment);

}  // namespace

PythonPlugin& Plugin() { return shared->plugin; }
const std::string& Root() { return shared->root.path(); }

bool PythonErrorPending() {
  const PyGILState_STATE state = PyGILState_Ensure();
  const bool pending = PyErr_Occurred() != nullptr;
  PyGILState_Release(state);
  return pending;
}

Answer Send(const std::string& function, const std::string& parameters) {
  return ::Send(Plugin(), function, parameters);
}

std::string Ask(const std::string& function, const std::string& parameters) {
  return ::Ask(Plugin(), function, parameters);
}
