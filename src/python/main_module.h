// The interpreter's main module, where code strings and scripts run: each
// run has a namespace of its own, which starts with sys imported.
#ifndef QORV_PYTHON_MAIN_MODULE_H
#define QORV_PYTHON_MAIN_MODULE_H

#include "python/py_ref.h"

// With the lock held, at Open: sys imported into the main namespace. False
// when that fails (the error is printed).
bool PrepareMainModule();

// With the lock held, at Close: a fresh main module made from `mainTemplate`
// (what a new interpreter's main module holds) takes the place of this run's
// in sys.modules. This run's namespace goes once nothing uses it any more:
// functions defined in it that live on elsewhere keep it, and cycles within
// it are collected now rather than at some later collection.
void RenewMainModule(PyBorrowed mainTemplate);

#endif  // QORV_PYTHON_MAIN_MODULE_H
