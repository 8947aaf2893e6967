// Bit-level output of the coded stream: most significant bit first, buffered
// and written to the stream given to resetBitWriter.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quiltbench::encoder {

namespace detail {

// The writer's buffer, kept here so that putBits can be inlined into the
// coefficient coder. Only bit_writer.cpp, putBits and BitBatch touch it.
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

// Appends 32 bits, most significant byte first.
inline void storeWord(std::uint32_t word) {
  BitWriterBuffer& w = g_bitBuffer;
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
  std::memcpy(w.bytes + w.used, &word, 4);
  w.used += 4;
  if (w.used >= kBitWriterFlushThreshold) writeBitWriterBuffer();
}

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
  w.accumulator &= (1ull << w.pending) - 1;
  detail::storeWord(word);
}

// A run of codes from one coder (a block's coefficients) with the writer's
// pending bits held in registers meanwhile. No other bits may be written
// between its construction and finish(), which hands the bits back.
class BitBatch {
 public:
  BitBatch()
      : accumulator_(detail::g_bitBuffer.accumulator), pending_(detail::g_bitBuffer.pending) {}
  BitBatch(const BitBatch&) = delete;
  BitBatch& operator=(const BitBatch&) = delete;

  // `value` must fit in `count` (1..32) bits.
  void put(std::uint32_t value, int count) {
    // Bits above the pending ones are left behind rather than masked off: the
    // next word is taken from below them, and finish() clears them.
    accumulator_ = accumulator_ << count | value;
    pending_ += count;
    if (pending_ < 32) return;
    pending_ -= 32;
    detail::storeWord(static_cast<std::uint32_t>(accumulator_ >> pending_));
  }

  void finish() {
    detail::g_bitBuffer.accumulator = accumulator_ & ((1ull << pending_) - 1);
    detail::g_bitBuffer.pending = pending_;
  }

 private:
  std::uint64_t accumulator_;
  int pending_;
};

// Pads with zero bits up to the next byte boundary.
void alignBits();
// Aligns, then writes the 32-bit start code prefix and `code` (0x00..0xFF).
void putStartCode(std::uint32_t code);
// Writes every complete byte held back so far to the stream.
void flushBitWriter();

}  // namespace quiltbench::encoder
