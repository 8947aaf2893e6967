// Bit-level output of the coded stream: most significant bit first, buffered
// and written to the stream given to resetBitWriter.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quiltbench::encoder {

namespace detail {

// The writer's buffer, kept here so that putBits can be inlined into the
// coefficient coder. Only bit_writer.cpp and putBits touch it.
constexpr std::size_t kBitWriterFlushThreshold = 1 << 16;
struct BitWriterBuffer {
  std::uint64_t accumulator = 0;  // pending bits, right-aligned, nothing above them
  int pending = 0;                // number of pending bits (< 32 between calls)
  std::size_t used = 0;           // bytes of `bytes` holding output
  // A flush happens at the threshold, so a 4-byte word always fits.
  std::uint8_t bytes[kBitWriterFlushThreshold + 4];
};
inline BitWriterBuffer g_bitBuffer;

// Writes the buffered bytes to the stream.
void writeBitWriterBuffer();

}  // namespace detail

// Appends the low `count` bits (0..32) of `value`. resetBitWriter must have run.
inline void putBits(std::uint32_t value, int count) {
  detail::BitWriterBuffer& w = detail::g_bitBuffer;
  if (count <= 0) return;
  const std::uint64_t mask = (count >= 32) ? 0xffffffffull : ((1ull << count) - 1);
  w.accumulator = (w.accumulator << count) | (value & mask);
  w.pending += count;
  if (w.pending < 32) return;
  w.pending -= 32;
  const auto word = static_cast<std::uint32_t>(w.accumulator >> w.pending);
  std::uint8_t* at = w.bytes + w.used;
  at[0] = static_cast<std::uint8_t>(word >> 24);
  at[1] = static_cast<std::uint8_t>(word >> 16);
  at[2] = static_cast<std::uint8_t>(word >> 8);
  at[3] = static_cast<std::uint8_t>(word);
  w.used += 4;
  w.accumulator &= (1ull << w.pending) - 1;
  if (w.used >= detail::kBitWriterFlushThreshold) detail::writeBitWriterBuffer();
}

// Pads with zero bits up to the next byte boundary.
void alignBits();
// Aligns, then writes the 32-bit start code prefix and `code` (0x00..0xFF).
void putStartCode(std::uint32_t code);
// Writes every complete byte held back so far to the stream.
void flushBitWriter();

}  // namespace quiltbench::encoder
