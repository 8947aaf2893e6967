// How much memory the machine can give a new piece of work, as the system's memory
// status reports it.
#pragma once

#include <cstdint>

namespace platform {

// Bytes of physical memory available without swapping (MemAvailable); the free pages
// when that is not reported; 0 when neither is known.
std::uint64_t availablePhysicalMemory();

}  // namespace platform
