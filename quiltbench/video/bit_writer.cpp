// Bit writer: a 64-bit accumulator that hands 32 bits at a time to a byte
// buffer, which goes to the output stream in large writes.
#include "quiltbench/video/bit_writer.h"

#include <cstdio>
#include <vector>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {
namespace {

constexpr std::size_t kFlushThreshold = 1 << 16;

struct BitWriterState {
  std::FILE* out = nullptr;
  std::uint64_t accumulator = 0;  // pending bits, right-aligned, nothing above them
  int pending = 0;                // number of pending bits (< 32 between calls)
  std::int64_t flushedBits = 0;
  std::vector<std::uint8_t> bytes;  // kFlushThreshold + 4 long; `used` of them hold output
  std::size_t used = 0;
};

BitWriterState g_writer;

void writeBuffered() {
  if (g_writer.out != nullptr && g_writer.used > 0) {
    if (std::fwrite(g_writer.bytes.data(), 1, g_writer.used, g_writer.out) != g_writer.used) {
      encoder_fatal("Couldn't write the output stream");
    }
  }
  g_writer.flushedBits += static_cast<std::int64_t>(g_writer.used) * 8;
  g_writer.used = 0;
}

// Moves the complete bytes of the accumulator to the buffer.
void drainBytes() {
  while (g_writer.pending >= 8) {
    g_writer.pending -= 8;
    g_writer.bytes[g_writer.used++] =
        static_cast<std::uint8_t>(g_writer.accumulator >> g_writer.pending);
  }
  g_writer.accumulator &= (1ull << g_writer.pending) - 1;
}

}  // namespace

void resetBitWriter(std::FILE* out) {
  g_writer = BitWriterState{};
  g_writer.out = out;
  g_writer.bytes.resize(kFlushThreshold + 4);
}

std::int64_t bitCount() {
  return g_writer.flushedBits + static_cast<std::int64_t>(g_writer.used) * 8 + g_writer.pending;
}

void putBits(std::uint32_t value, int count) {
  if (count <= 0) return;
  const std::uint64_t mask = (count >= 32) ? 0xffffffffull : ((1ull << count) - 1);
  g_writer.accumulator = (g_writer.accumulator << count) | (value & mask);
  g_writer.pending += count;
  if (g_writer.pending < 32) return;
  g_writer.pending -= 32;
  const auto word = static_cast<std::uint32_t>(g_writer.accumulator >> g_writer.pending);
  std::uint8_t* at = &g_writer.bytes[g_writer.used];
  at[0] = static_cast<std::uint8_t>(word >> 24);
  at[1] = static_cast<std::uint8_t>(word >> 16);
  at[2] = static_cast<std::uint8_t>(word >> 8);
  at[3] = static_cast<std::uint8_t>(word);
  g_writer.used += 4;
  g_writer.accumulator &= (1ull << g_writer.pending) - 1;
  if (g_writer.used >= kFlushThreshold) writeBuffered();
}

void alignBits() {
  const int padding = -g_writer.pending & 7;
  if (padding > 0) putBits(0, padding);
}

void putStartCode(std::uint32_t code) {
  alignBits();
  putBits(0x000001, 24);
  putBits(code & 0xff, 8);
}

void flushBitWriter() {
  drainBytes();
  writeBuffered();
  if (g_writer.out != nullptr) std::fflush(g_writer.out);
}

}  // namespace quiltbench::encoder
