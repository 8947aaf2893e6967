#include "platform/memory_status.h"

#include <unistd.h>

#include <exception>
#include <fstream>
#include <string>

namespace platform {

std::uint64_t availablePhysicalMemory() {
  std::ifstream meminfo("/proc/meminfo");
  const std::string key = "MemAvailable:";
  for (std::string line; std::getline(meminfo, line);) {
    if (line.compare(0, key.size(), key) != 0) continue;
    try {
      return std::stoull(line.substr(key.size())) * 1024;  // given in kB
    } catch (const std::exception&) {
      break;
    }
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace platform
