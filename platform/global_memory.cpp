#include "platform/global_memory.h"

#include <atomic>
#include <cstring>
#include <new>

namespace platform {

struct GlobalBlock {
  std::size_t size = 0;
  int locks = 0;
  unsigned char* bytes = nullptr;
};

namespace {
std::atomic<long> g_liveBlocks{0};
}

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes) {
  if (bytes > kMaxGlobalBlockBytes) return nullptr;
  auto* block = new (std::nothrow) GlobalBlock;
  if (!block) return nullptr;
  // One byte at least, so that a zero-sized block still has an address to lock.
  block->bytes = new (std::nothrow) unsigned char[bytes ? bytes : 1];
  if (!block->bytes) {
    delete block;
    return nullptr;
  }
  if (flags & GMEM_ZEROINIT) std::memset(block->bytes, 0, bytes ? bytes : 1);
  block->size = bytes;
  ++g_liveBlocks;
  return block;
}

void* GlobalLock(HGLOBAL block) {
  if (!block) return nullptr;
  ++block->locks;
  return block->bytes;
}

bool GlobalUnlock(HGLOBAL block) {
  if (!block || block->locks == 0) return false;
  return --block->locks > 0;
}

std::size_t GlobalSize(HGLOBAL block) { return block ? block->size : 0; }

HGLOBAL GlobalFree(HGLOBAL block) {
  if (!block) return nullptr;
  delete[] block->bytes;
  delete block;
  --g_liveBlocks;
  return nullptr;
}

int GlobalLockCount(HGLOBAL block) { return block ? block->locks : 0; }

long GlobalLiveBlockCount() { return g_liveBlocks.load(); }

}  // namespace platform
