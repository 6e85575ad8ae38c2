// Runs a test body in a child process of its own, as each scenario that
// starts, restarts or abandons an interpreter must: the interpreter's state
// and whatever the scenario leaves behind die with the child.
#ifndef QORV_TESTS_SUPPORT_CHILD_PROCESS_H
#define QORV_TESTS_SUPPORT_CHILD_PROCESS_H

#include <functional>

// Forks; the child runs `body` (with GoogleTest assertions, whose failures it
// prints) and exits. The calling test fails when the child failed an
// assertion, leaked memory (under LeakSanitizer), crashed or hung past
// `timeoutSeconds`.
void RunInChildProcess(const std::function<void()>& body, int timeoutSeconds = 300);

#endif  // QORV_TESTS_SUPPORT_CHILD_PROCESS_H
