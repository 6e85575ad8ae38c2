// Request costs against floors measured in the same run: the same Python work
// done straight on the C API.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_plugin.h"
#include "python/py_ref.h"
#include "python/python_compat.h"

namespace {

// One call of bench_tools.echo, cached, with one string argument and the
// result's text copied out.
void CallEcho(PyObject* echo, std::string* answer) {
  PyRef args = PyRef::Steal(PyTuple_New(1));
  PyTuple_SET_ITEM(args.get(), 0, qorv::py::TextFromBytes("hello"));
  PyRef result = PyRef::Steal(PyObject_CallObject(echo, args.get()));
  qorv::py::ResultText(result.get(), answer);
}

PyRef CachedEcho() {
  PyRef module = PyRef::Steal(PyImport_ImportModule("bench_tools"));
  PyRef echo = PyRef::Steal(PyObject_GetAttrString(module.get(), "echo"));
  if (!echo) std::abort();
  return echo;
}

// The floor of a call with Python's lock held throughout.
void BM_CallFloor(benchmark::State& state) {
  BenchPlugin();
  const PyGILState_STATE lock = PyGILState_Ensure();
  {
    PyRef echo = CachedEcho();
    std::string answer;
    for (auto _ : state) {
      CallEcho(echo.get(), &answer);
      benchmark::DoNotOptimize(answer.data());
    }
  }
  PyGILState_Release(lock);
}
BENCHMARK(BM_CallFloor);

// The floor that a thread-correct host pays: the same call, with the lock
// taken and given back around each one.
void BM_CallFloorWithLock(benchmark::State& state) {
  BenchPlugin();
  const PyGILState_STATE lock = PyGILState_Ensure();
  PyRef echo = CachedEcho();
  PyThreadState* thread = PyEval_SaveThread();
  std::string answer;
  for (auto _ : state) {
    PyEval_RestoreThread(thread);
    CallEcho(echo.get(), &answer);
    thread = PyEval_SaveThread();
    benchmark::DoNotOptimize(answer.data());
  }
  PyEval_RestoreThread(thread);
  echo.Reset();
  PyGILState_Release(lock);
}
BENCHMARK(BM_CallFloorWithLock);

// The same call as a request through HandleRequest.
void BM_PyCallObject(benchmark::State& state) {
  BenchPlugin();
  const std::string parameters = "PYMOD=bench_tools PYOBJ=echo hello";
  if (std::strcmp(Send("PyCallObject", parameters), "hello") != 0) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(Send("PyCallObject", parameters));
}
BENCHMARK(BM_PyCallObject);

// Creating (and removing again) one object with a generated id, below the
// cap, and past it with 30,000 objects held.
void CreateAndRemove(benchmark::State& state, std::int32_t counter) {
  PythonPlugin& plugin = BenchPlugin();
  for (auto _ : state) {
    plugin.objectRegistry.SetObjectCounter(counter);
    const std::string id = Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box");
    Send("PyRemoveObject", id);
  }
}

void BM_CreateBelowCap(benchmark::State& state) { CreateAndRemove(state, 100); }
BENCHMARK(BM_CreateBelowCap);

void BM_CreatePastCapWith30000Held(benchmark::State& state) {
  PythonPlugin& plugin = BenchPlugin();
  plugin.objectRegistry.ResetCounter();
  while (plugin.objectRegistry.objectCounter() < 30000) Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box");
  CreateAndRemove(state, 30000);

  // Each iteration takes o_0, the lowest free id, and gives it back.
  while (!plugin.objectRegistry.Empty()) {
    Send("PyRemoveObject", plugin.objectRegistry.entries().begin()->first);
  }
}
BENCHMARK(BM_CreatePastCapWith30000Held);

}  // namespace

BENCHMARK_MAIN();
