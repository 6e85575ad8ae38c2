#include "plugin/python_plugin.h"

PythonPlugin::PythonPlugin() = default;

// Runs the whole shutdown when the library is unloaded without a Close from
// the host; after the host's Close it finds nothing left to do.
PythonPlugin::~PythonPlugin() { PythonPlugin::Close(); }

void PythonPlugin::ReclaimRequestMemory() {
  // Keep a small buffer for reuse; give back what one huge answer took.
  if (freshAnswer.capacity() > 65536) {
    std::string().swap(freshAnswer);
  } else {
    freshAnswer.clear();
  }
  requestArgs.Shrink();
}
