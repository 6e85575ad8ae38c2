// The library's export and entry point. The one plugin object is static: it
// lives as long as the library is loaded, and the unload destroys it.
#include "plugin/python_plugin.h"

namespace {
PythonPlugin thePlugin;
}  // namespace

extern "C" QORV_EXPORT PluginBase* GetClassObject() { return &thePlugin; }

#if defined(_WIN32)
#include <windows.h>

// Nothing to do for any notification: the runtime constructs and destroys the
// static plugin object around this.
BOOL APIENTRY DllMain(HMODULE, DWORD, LPVOID) { return TRUE; }
#endif
