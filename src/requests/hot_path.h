// Marks a function that serves every request (hot), and one that a request
// seldom needs (cold: failures, first uses). The compiler gathers the hot
// functions into one stretch of code and moves the cold ones, and the
// branches that lead to them, out of it, so that the request path takes few
// instruction-cache lines, side by side. Scattered over the library, those
// lines share cache sets with the interpreter's own hot code, and where more
// of them meet in one set than it has ways, every request misses there.
#ifndef QORV_REQUESTS_HOT_PATH_H
#define QORV_REQUESTS_HOT_PATH_H

#if defined(__GNUC__)
#define QORV_HOT_PATH __attribute__((hot))
#define QORV_COLD_PATH __attribute__((cold, noinline))
#else
#define QORV_HOT_PATH
#define QORV_COLD_PATH
#endif

#endif  // QORV_REQUESTS_HOT_PATH_H
