// Instructions per request, counted by callgrind, which does not care how
// busy the machine is: one kind of request through the plugin, or its floor
// (the same Python work on the C API with Python's lock taken and given back
// around each call). Only the measured loop is counted.
//   call:   PyCallObject with an argument that changes on every call
//   method: PyCallObjectMethod of a held object
//   create: PyCreateObject, replacing the object held under one id
// usage: valgrind --tool=callgrind --collect-atstart=no instructions call|method|create plugin|floor REQUESTS
// (bench/instructions.sh runs each and prints the ratios).
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_plugin.h"

namespace {

void Call(int requests) {
  PythonPlugin& plugin = BenchPlugin();
  char* const buffer = HostBuffer();
  VaryingText text(buffer, "PYMOD=bench_tools PYOBJ=echo ");
  for (int i = 0; i < requests; ++i) {
    text.Next();
    plugin.HandleRequest("", "PyCallObject", buffer);
  }
}

void CallFloor(Floor& floor, int requests) {
  char buffer[32];
  VaryingText argument(buffer, "");
  for (int i = 0; i < requests; ++i) {
    argument.Next();
    floor.Call(argument.digits(), argument.digitCount(), true);
  }
}

constexpr char kMethodText[] = "PYOBJ=box PYOMD=size";

void Method(int requests) {
  for (int i = 0; i < requests; ++i) {
    std::memcpy(HostBuffer(), kMethodText, sizeof kMethodText);
    SendBuffer("PyCallObjectMethod");
  }
}

void MethodFloor(Floor& floor, int requests) {
  for (int i = 0; i < requests; ++i) floor.CallMethod(true);
}

constexpr char kCreateText[] = "PYMOD=bench_tools PYOBJ=Box SETID=b";

void Create(int requests) {
  for (int i = 0; i < requests; ++i) {
    std::memcpy(HostBuffer(), kCreateText, sizeof kCreateText);
    SendBuffer("PyCreateObject");
  }
}

void CreateFloor(Floor& floor, int requests) {
  for (int i = 0; i < requests; ++i) floor.CreateAndDrop(true);
}

struct Kind {
  const char* name;
  void (*plugin)(int requests);
  void (*floor)(Floor& floor, int requests);
};

constexpr Kind kKinds[] = {
    {"call", &Call, &CallFloor},
    {"method", &Method, &MethodFloor},
    {"create", &Create, &CreateFloor},
};

}  // namespace

int main(int argc, char** argv) {
  const Kind* kind = nullptr;
  for (const Kind& known : kKinds) {
    if (argc == 4 && std::strcmp(argv[1], known.name) == 0) kind = &known;
  }
  if (kind == nullptr || (std::strcmp(argv[2], "plugin") != 0 && std::strcmp(argv[2], "floor") != 0)) {
    std::fprintf(stderr, "usage: instructions call|method|create plugin|floor REQUESTS\n");
    return 2;
  }
  const bool plugin = std::strcmp(argv[2], "plugin") == 0;
  const int requests = std::atoi(argv[3]);
  {
    Floor floor;
    if (std::strcmp(Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box SETID=box a"), "box") != 0) {
      std::fprintf(stderr, "instructions: the object to call methods of cannot be made\n");
      return 1;
    }
    // First calls fill caches and take the paths that run once.
    const auto run = [&](int count) {
      if (plugin) kind->plugin(count); else kind->floor(floor, count);
    };
    run(1000);
    CALLGRIND_TOGGLE_COLLECT;
    run(requests);
    CALLGRIND_TOGGLE_COLLECT;
  }
  BenchPlugin().Close();
  return 0;
}
