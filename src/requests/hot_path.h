// Marks a function that serves every request (hot), and one that a request
// seldom needs (cold: failures, first uses).
//
// Scattered over the library, the request path's code lines share
// instruction-cache sets with the interpreter's own hot code, and where more
// of them meet in one set than it has ways, every request misses there; the
// order of the hot functions among themselves moved a request's time by a
// sixth. So the linker places them side by side, in the order that
// QORV_HOT_PATH(n) gives (two digits, 01 first): first the order in which a
// PyCallObject request runs them, then what only the other requests run.
// The cold functions, and the branches that lead to them, leave the stretch.
#ifndef QORV_REQUESTS_HOT_PATH_H
#define QORV_REQUESTS_HOT_PATH_H

#if defined(__GNUC__) && defined(__ELF__)
// GNU ld's default script places the sections named .text.sorted.* together,
// sorted by name.
#define QORV_HOT_PATH(n) __attribute__((hot, section(".text.sorted.qorv" #n)))
#define QORV_COLD_PATH __attribute__((cold, noinline))
#elif defined(__GNUC__)
#define QORV_HOT_PATH(n) __attribute__((hot))
#define QORV_COLD_PATH __attribute__((cold, noinline))
#else
#define QORV_HOT_PATH(n)
#define QORV_COLD_PATH
#endif

#endif  // QORV_REQUESTS_HOT_PATH_H
