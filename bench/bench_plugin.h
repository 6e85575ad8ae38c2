// An opened plugin for the benchmarks, in a scratch directory that holds the
// module bench_tools (echo and a class).
#ifndef QORV_BENCH_BENCH_PLUGIN_H
#define QORV_BENCH_BENCH_PLUGIN_H

#include <string>
#include <vector>

#include "plugin/python_plugin.h"

PythonPlugin& BenchPlugin();
// The scratch directory it runs in.
const char* BenchDirectory();

// Sends one request the way a host does: the text copied into its buffer.
const char* Send(const char* function, const std::string& parameters);

#endif  // QORV_BENCH_BENCH_PLUGIN_H
