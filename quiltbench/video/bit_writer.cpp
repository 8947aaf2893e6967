// Bit writer: a 64-bit accumulator in front of a byte buffer that goes to the
// output stream in large writes.
#include "quiltbench/video/bit_writer.h"

#include <cstdio>
#include <vector>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {
namespace {

struct BitWriterState {
  std::FILE* out = nullptr;
  std::uint64_t accumulator = 0;  // pending bits, right-aligned
  int pending = 0;                // number of pending bits (< 8 between calls)
  std::int64_t flushedBits = 0;
  std::vector<std::uint8_t> bytes;
};

BitWriterState g_writer;

constexpr std::size_t kFlushThreshold = 1 << 16;

void writeBuffered() {
  if (g_writer.out != nullptr && !g_writer.bytes.empty()) {
    if (std::fwrite(g_writer.bytes.data(), 1, g_writer.bytes.size(), g_writer.out) !=
        g_writer.bytes.size()) {
      encoder_fatal("Couldn't write the output stream");
    }
  }
  g_writer.flushedBits += static_cast<std::int64_t>(g_writer.bytes.size()) * 8;
  g_writer.bytes.clear();
}

}  // namespace

void resetBitWriter(std::FILE* out) {
  g_writer = BitWriterState{};
  g_writer.out = out;
  g_writer.bytes.reserve(kFlushThreshold + 16);
}

std::int64_t bitCount() {
  return g_writer.flushedBits + static_cast<std::int64_t>(g_writer.bytes.size()) * 8 +
         g_writer.pending;
}

void putBits(std::uint32_t value, int count) {
  if (count <= 0) return;
  const std::uint64_t mask = (count >= 32) ? 0xffffffffull : ((1ull << count) - 1);
  g_writer.accumulator = (g_writer.accumulator << count) | (value & mask);
  g_writer.pending += count;
  while (g_writer.pending >= 8) {
    g_writer.pending -= 8;
    g_writer.bytes.push_back(static_cast<std::uint8_t>(g_writer.accumulator >> g_writer.pending));
  }
  g_writer.accumulator &= (1ull << g_writer.pending) - 1;
  if (g_writer.bytes.size() >= kFlushThreshold) writeBuffered();
}

void alignBits() {
  if (g_writer.pending > 0) putBits(0, 8 - g_writer.pending);
}

void putStartCode(std::uint32_t code) {
  alignBits();
  putBits(0x000001, 24);
  putBits(code & 0xff, 8);
}

void flushBitWriter() {
  writeBuffered();
  if (g_writer.out != nullptr) std::fflush(g_writer.out);
}

}  // namespace quiltbench::encoder
