// Instructions per request, counted by callgrind, which does not care how
// busy the machine is: the plugin's PyCallObject with an argument that
// changes on every call, or the floor (the same call on the C API with
// Python's lock taken and given back). Only the measured loop is counted.
// usage: valgrind --tool=callgrind --collect-atstart=no instructions plugin|floor REQUESTS
// (bench/instructions.sh runs both and prints the ratio).
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_plugin.h"

namespace {

void Plugin(int requests) {
  PythonPlugin& plugin = BenchPlugin();
  char* const buffer = HostBuffer();
  VaryingText text(buffer, "PYMOD=bench_tools PYOBJ=echo ");
  for (int i = 0; i < requests; ++i) {
    text.Next();
    plugin.HandleRequest("", "PyCallObject", buffer);
  }
}

void FloorWithLock(Floor& floor, int requests) {
  char buffer[32];
  VaryingText argument(buffer, "");
  for (int i = 0; i < requests; ++i) {
    argument.Next();
    floor.Call(argument.digits(), argument.digitCount(), true);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "plugin") != 0 && std::strcmp(argv[1], "floor") != 0)) {
    std::fprintf(stderr, "usage: instructions plugin|floor REQUESTS\n");
    return 2;
  }
  const bool plugin = std::strcmp(argv[1], "plugin") == 0;
  const int requests = std::atoi(argv[2]);
  {
    Floor floor;
    // First calls fill caches and take the paths that run once.
    if (plugin) Plugin(1000); else FloorWithLock(floor, 1000);
    CALLGRIND_TOGGLE_COLLECT;
    if (plugin) Plugin(requests); else FloorWithLock(floor, requests);
    CALLGRIND_TOGGLE_COLLECT;
  }
  BenchPlugin().Close();
  return 0;
}
