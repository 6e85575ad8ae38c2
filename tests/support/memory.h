// The memory this process holds.
#ifndef QORV_TESTS_SUPPORT_MEMORY_H
#define QORV_TESTS_SUPPORT_MEMORY_H

// Resident memory of this process, in KiB; -1 when it cannot be read.
long ResidentKiB();

// Whether resident memory means anything here: AddressSanitizer keeps freed
// memory in quarantine.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

#endif  // QORV_TESTS_SUPPORT_MEMORY_H
