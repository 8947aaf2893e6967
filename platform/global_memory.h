// Movable global memory blocks: the allocation unit that images travel in between
// the engines and the shells. A handle stays valid while the block moves; the
// address is only valid between a lock and the matching unlock.
#pragma once

#include <cstddef>

namespace platform {

struct GlobalBlock;
using HGLOBAL = GlobalBlock*;

enum GlobalAllocFlags : unsigned {
  GMEM_FIXED = 0x0000,
  GMEM_MOVEABLE = 0x0002,
  GMEM_ZEROINIT = 0x0040,
  GHND = GMEM_MOVEABLE | GMEM_ZEROINIT,
};

// Largest block handed out; a 32-bit process could never hold more.
inline constexpr std::size_t kMaxGlobalBlockBytes = 0x7FFFFFFF;

// A new block of `bytes` bytes, or null when the size is too large or memory runs out.
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);

// The block's address; null for a null handle. Every lock needs an unlock.
void* GlobalLock(HGLOBAL block);

// Returns true while the block is still locked by another caller.
bool GlobalUnlock(HGLOBAL block);

// Size in bytes as allocated; 0 for a null handle.
std::size_t GlobalSize(HGLOBAL block);

// Frees the block; returns null (the handle is dead afterwards). Null is accepted.
HGLOBAL GlobalFree(HGLOBAL block);

// Outstanding locks of a block, for tests that check every lock is released.
int GlobalLockCount(HGLOBAL block);

// Blocks allocated and not yet freed in this process, for leak checks in tests.
long GlobalLiveBlockCount();

// Locks a block for the lifetime of the guard.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(block_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  void* data() const { return data_; }
  template <typename T>
  T* as() const {
    return static_cast<T*>(data_);
  }

 private:
  HGLOBAL block_;
  void* data_;
};

}  // namespace platform
