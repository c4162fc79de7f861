#include "run/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
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

uint64_t AddressSpaceLeftBytes() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return UINT64_MAX;
    // The first number of statm: the pages the process has mapped.
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return UINT64_MAX;
    unsigned long long pages = 0;
    const bool read = std::fscanf(file, "%llu", &pages) == 1;
    std::fclose(file);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (!read || pageSize <= 0)
        return UINT64_MAX;
    const uint64_t mapped = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    return mapped < limit.rlim_cur ? limit.rlim_cur - mapped : 0;
}

uint64_t PeakResidentBytes() {
    struct rusage usage;
    if (getrusage(RUSAGE_SELF, &usage) != 0 || usage.ru_maxrss < 0)
        return 0;
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024; // Linux counts KiB
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

long FlockHolder(dev_t device, ino_t inode) {
    std::FILE* locks = std::fopen("/proc/locks", "r");
    if (!locks)
        return 0;
    // "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF", the device in hex.
    char line[256];
    long holder = 0;
    while (holder == 0 && std::fgets(line, sizeof line, locks)) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long long ino = 0;
        if (std::sscanf(line, "%*d: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid,
                        &major, &minor, &ino) == 7 &&
            std::strcmp(kind, "FLOCK") == 0 && major == major(device) && minor == minor(device) &&
            ino == inode)
            holder = pid;
    }
    std::fclose(locks);
    return holder;
}

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is the one just found closed.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd)
            close(opened);
    }
}
