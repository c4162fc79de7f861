// What the engine asks of the machine it runs on.
#pragma once

#include <cstdint>

// Physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// Hardware threads this process may run on (its CPU affinity); at least 1.
int HardwareThreads();
