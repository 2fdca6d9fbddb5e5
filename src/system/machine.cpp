#include "system/machine.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

double threadProcessorSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

size_t usableMemory() {
    long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    size_t most = pages > 0 && pageSize > 0 ? size_t(pages) * size_t(pageSize) : size_t(1) << 32;
    rlimit space{};
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY && space.rlim_cur < most)
        most = space.rlim_cur;
    static const size_t groupLimit = [] {
        size_t lowest = SIZE_MAX;
        for (const char* name : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"})
            if (FILE* file = std::fopen(name, "re")) {
                unsigned long long limit = 0;
                if (std::fscanf(file, "%llu", &limit) == 1 && limit > 0 && limit < lowest) lowest = size_t(limit);
                std::fclose(file);
            }
        return lowest;
    }();
    return std::min(most, groupLimit);
}

void* allocateLargePages(size_t bytes) {
    bytes = (std::max<size_t>(bytes, 1) + largePageBytes - 1) / largePageBytes * largePageBytes;
    void* memory = std::aligned_alloc(largePageBytes, bytes);
    if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);
    return memory;
}
