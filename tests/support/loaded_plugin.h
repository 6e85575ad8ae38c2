// The plugin library loaded as a host loads it: dlopen with RTLD_LOCAL,
// reached through GetClassObject only.
#ifndef QORV_TESTS_SUPPORT_LOADED_PLUGIN_H
#define QORV_TESTS_SUPPORT_LOADED_PLUGIN_H

#include "qorv/plugin_base.h"

class LoadedPlugin {
 public:
  explicit LoadedPlugin(const char* path = QORV_PLUGIN_PATH);
  ~LoadedPlugin() { Unload(); }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  bool loaded() const { return library_ != nullptr; }
  // The plugin object, or null.
  PluginBase* Get() const;
  void Unload();

 private:
  void* library_;
};

// Whether the plugin library is still loaded in this process.
bool PluginStillLoaded(const char* path = QORV_PLUGIN_PATH);

#endif  // QORV_TESTS_SUPPORT_LOADED_PLUGIN_H
