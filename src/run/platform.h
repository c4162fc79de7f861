// What the engine asks of the machine it runs on.
#pragma once

#include <cstdint>

#include <sys/types.h>

// Physical memory in bytes; 0 when the system does not say.
uint64_t PhysicalMemoryBytes();

// Memory a new allocation can still get without pushing the system into
// swapping or the out-of-memory killer: the kernel's estimate of available
// memory, else the physical memory; 0 when the system says neither.
uint64_t AvailableMemoryBytes();

// Address space the process may still map under its limit (ulimit -v), in
// bytes; UINT64_MAX when it has no limit or the system does not say.
uint64_t AddressSpaceLeftBytes();

// The largest resident memory this process has had, in bytes; 0 when the
// system does not say.
uint64_t PeakResidentBytes();

// Hardware threads this process may run on (its CPU affinity); at least 1.
int HardwareThreads();

// The process holding a flock() lock on the file (device, inode), from the
// kernel's list of locks; 0 when it cannot be told.
long FlockHolder(dev_t device, ino_t inode);

// Standard input, output and error that a parent closed are opened on
// /dev/null, so that no file or pipe the program opens later takes their
// numbers and receives what was meant for them.
void EnsureStandardDescriptors();
