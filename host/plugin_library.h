// The plugin library, loaded as any QORV host loads one: dlopen with
// RTLD_LOCAL, GetClassObject, and nothing but the boundary header.
#ifndef QORV_HOST_PLUGIN_LIBRARY_H
#define QORV_HOST_PLUGIN_LIBRARY_H

#include <string>

#include "qorv/plugin_base.h"

class PluginLibrary {
 public:
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();  // unloads it
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // The plugin object; null when the library could not be loaded or has no
  // GetClassObject, and then error() says why.
  PluginBase* plugin() const { return plugin_; }
  const std::string& error() const { return error_; }

 private:
  void* library_ = nullptr;
  PluginBase* plugin_ = nullptr;
  std::string error_;
};

// qorv_python.so beside qorv-host (a build tree), or where an installation
// puts it relative to qorv-host.
std::string DefaultPluginPath();

// The embedded Python's version ("3.11.2"), asked of the open plugin with a
// request; empty when the plugin cannot tell.
std::string EmbeddedPythonVersion(PluginBase* plugin);

#endif  // QORV_HOST_PLUGIN_LIBRARY_H
