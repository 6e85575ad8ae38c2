#include "support/loaded_plugin.h"

#include <dlfcn.h>

LoadedPlugin::LoadedPlugin(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}

PluginBase* LoadedPlugin::Get() const {
  using GetClassObjectFunction = PluginBase* (*)();
  auto get = reinterpret_cast<GetClassObjectFunction>(dlsym(library_, "GetClassObject"));
  return get != nullptr ? get() : nullptr;
}

void LoadedPlugin::Unload() {
  if (library_ != nullptr) dlclose(library_);
  library_ = nullptr;
}

bool PluginStillLoaded(const char* path) { return dlopen(path, RTLD_NOW | RTLD_NOLOAD) != nullptr; }
