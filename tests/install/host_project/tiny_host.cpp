// Loads the installed plugin, sends one request and prints the answer.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "qorv/plugin_base.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  void* library = dlopen(PLUGIN, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "tiny_host: %s\n", dlerror());
    return 1;
  }
  auto getClassObject = reinterpret_cast<PluginBase* (*)()>(dlsym(library, "GetClassObject"));
  PluginBase* plugin = getClassObject();
  if (!plugin->Open("")) return 1;
  std::vector<char> buffer(kQorvParameterBufferSize);
  std::strncpy(buffer.data(), argv[2], buffer.size() - 1);
  std::printf("%s\n", plugin->HandleRequest("", argv[1], buffer.data()));
  plugin->Close();
  dlclose(library);
  return 0;
}
