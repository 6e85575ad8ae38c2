#include "bench_plugin.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char directory[] = "/tmp/qorv-bench-XXXXXX";

const char kModule[] =
    "def echo(a):\n    return a\n"
    "class Box(object):\n"
    "    def __init__(self, *items): self.items = list(items)\n"
    "    def size(self): return str(len(self.items))\n";

void WriteFile(const char* name, const std::string& content) {
  std::FILE* file = std::fopen(name, "w");
  if (file == nullptr) std::abort();
  std::fputs(content.c_str(), file);
  std::fclose(file);
}

std::vector<char>& Buffer() {
  static std::vector<char> buffer(kQorvParameterBufferSize);
  return buffer;
}

const char* SendTo(PythonPlugin& plugin, const char* function, const std::string& parameters) {
  std::memcpy(Buffer().data(), parameters.c_str(), parameters.size() + 1);
  return plugin.HandleRequest("", function, Buffer().data());
}

PythonPlugin* Open() {
  if (mkdtemp(directory) == nullptr || chdir(directory) != 0) std::abort();
  WriteFile("bench_tools.py", kModule);
  WriteFile("bench_script.py", "script_runs = globals().get('script_runs', 0) + 1\n");
  WriteFile("qorv_python.ini", std::string("[QORV_PYTHON]\nprefix=") + directory + "\nscriptdir=.\n");
  auto* plugin = new PythonPlugin;
  if (!plugin->Open(directory)) std::abort();
  if (std::strcmp(SendTo(*plugin, "PyRunSimpleString", "sys.path.insert(0, '.')"), "TRUE") != 0) {
    std::abort();
  }
  return plugin;
}

}  // namespace

PythonPlugin& BenchPlugin() {
  static PythonPlugin* plugin = Open();
  return *plugin;
}

const char* BenchDirectory() {
  BenchPlugin();
  return directory;
}

const char* Send(const char* function, const std::string& parameters) {
  return SendTo(BenchPlugin(), function, parameters);
}
