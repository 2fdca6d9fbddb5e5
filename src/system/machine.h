// What the machine gives a program: processor time and memory. The level
// checker's search sizes itself by these.
#pragma once

#include <cstddef>

// Processor time of the calling thread, in seconds: limits on it hold the
// same on a busy machine as on an idle one.
double threadProcessorSeconds();

// The memory a program may count on: the machine's, or less where the
// address-space limit (ulimit -v) or the control group's limit says so
// (past a control group's limit a program is killed, with no failed
// allocation to give up on).
size_t usableMemory();

// At least `bytes` of memory aligned for large pages, which the kernel is
// asked to back with them (a wish: without it the pages are small); nullptr
// when there is none. Freed with std::free.
void* allocateLargePages(size_t bytes);
constexpr size_t largePageBytes = size_t(2) << 20;
