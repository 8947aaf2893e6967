// Bit writer: a 64-bit accumulator that hands 32 bits at a time to a byte
// buffer (bit_writer.h), which goes to the output stream in large writes.
#include "quiltbench/video/bit_writer.h"

#include <cstdio>

#include "quiltbench/video/encoder_stages.h"

namespace quiltbench::encoder {
namespace {

struct BitWriterState {
  std::FILE* out = nullptr;
  std::int64_t flushedBits = 0;
};

BitWriterState g_writer;

// Moves the complete bytes of the accumulator to the buffer.
void drainBytes() {
  detail::BitWriterBuffer& w = detail::g_bitBuffer;
  while (w.pending >= 8) {
    w.pending -= 8;
    w.bytes[w.used++] = static_cast<std::uint8_t>(w.accumulator >> w.pending);
  }
  w.accumulator &= (1ull << w.pending) - 1;
}

}  // namespace

namespace detail {

void writeBitWriterBuffer() {
  BitWriterBuffer& w = g_bitBuffer;
  if (g_writer.out != nullptr && w.used > 0) {
    if (std::fwrite(w.bytes, 1, w.used, g_writer.out) != w.used) {
      encoder_fatal("Couldn't write the output stream");
    }
  }
  g_writer.flushedBits += static_cast<std::int64_t>(w.used) * 8;
  w.used = 0;
}

}  // namespace detail

void resetBitWriter(std::FILE* out) {
  g_writer.out = out;
  g_writer.flushedBits = 0;
  detail::g_bitBuffer.accumulator = 0;
  detail::g_bitBuffer.pending = 0;
  detail::g_bitBuffer.used = 0;
}

std::int64_t bitCount() {
  const detail::BitWriterBuffer& w = detail::g_bitBuffer;
  return g_writer.flushedBits + static_cast<std::int64_t>(w.used) * 8 + w.pending;
}

void alignBits() {
  const int padding = -detail::g_bitBuffer.pending & 7;
  if (padding > 0) putBits(0, padding);
}

void putStartCode(std::uint32_t code) {
  alignBits();
  putBits(0x000001, 24);
  putBits(code & 0xff, 8);
}

void flushBitWriter() {
  drainBytes();
  detail::writeBitWriterBuffer();
  if (g_writer.out != nullptr) std::fflush(g_writer.out);
}

}  // namespace quiltbench::encoder
