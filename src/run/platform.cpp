#include "run/platform.h"

#include <cstdio>
#include <cstring>
#include <sched.h>
#include <unistd.h>

#include <thread>

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

namespace {

// The "MemAvailable:" line of /proc/meminfo in bytes; 0 when absent.
uint64_t MemAvailableBytes() {
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return 0;
    char line[256];
    unsigned long long kib = 0;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "MemAvailable:", 13) == 0) {
            if (std::sscanf(line + 13, "%llu", &kib) != 1)
                kib = 0;
            break;
        }
    }
    std::fclose(file);
    return static_cast<uint64_t>(kib) * 1024u;
}

} // namespace

uint64_t AvailableMemoryBytes() {
    const uint64_t physical = PhysicalMemoryBytes();
    const uint64_t available = MemAvailableBytes();
    if (available == 0)
        return physical;
    if (physical == 0)
        return available;
    return available < physical ? available : physical;
}

int HardwareThreads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    const unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
}
