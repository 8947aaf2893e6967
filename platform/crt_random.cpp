#include "platform/crt_random.h"

#include <cstdint>

namespace platform {
namespace {
std::uint32_t g_state = 1;  // the runtime's state before any srand
}

void srand(unsigned seed) { g_state = seed; }

int rand() {
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 0x7fff);
}

}  // namespace platform
