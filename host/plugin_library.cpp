#include "plugin_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

PluginLibrary::PluginLibrary(const std::string& path) {
  library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    error_ = std::string("cannot load plugin: ") + dlerror();
    return;
  }
  using GetClassObjectFunction = PluginBase* (*)();
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(dlsym(library_, "GetClassObject"));
  if (getClassObject == nullptr) {
    error_ = "plugin '" + path + "' has no GetClassObject";
    return;
  }
  plugin_ = getClassObject();
}

PluginLibrary::~PluginLibrary() {
  if (library_ != nullptr) dlclose(library_);
}

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "qorv_python.so";
  const std::string path(self, static_cast<std::size_t>(length));
  const std::string directory = path.substr(0, path.rfind('/') + 1);
  const std::string beside = directory + "qorv_python.so";
  const std::filesystem::path installed = std::filesystem::path(directory) /
                                          QORV_INSTALLED_PLUGIN_DIRECTORY / "qorv_python.so";
  std::error_code error;
  if (std::filesystem::exists(beside, error) || !std::filesystem::exists(installed, error)) {
    return beside;
  }
  return installed.lexically_normal().string();
}

std::string EmbeddedPythonVersion(PluginBase* plugin) {
  const char request[] = "PYMOD=platform PYOBJ=python_version";
  std::vector<char> parameters(kQorvParameterBufferSize);
  std::memcpy(parameters.data(), request, sizeof request);
  const std::string answer = plugin->HandleRequest("", "PyCallObject", parameters.data());
  return answer == "NONE" ? "" : answer;
}
