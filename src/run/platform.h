// What the engine asks of the machine it runs on.
#pragma once

#include <cstdint>

// Physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// Memory a new allocation can still get without pushing the system into
// swapping or the out-of-memory killer: the kernel's estimate of available
// memory, else the physical memory; 0 when the system says neither.
uint64_t AvailableMemoryBytes();

// Hardware threads this process may run on (its CPU affinity); at least 1.
int HardwareThreads();
