// Bit-level output of the coded stream: most significant bit first, buffered
// and written to the stream given to resetBitWriter.
#pragma once

#include <cstdint>

namespace quiltbench::encoder {

// Appends the low `count` bits (0..32) of `value`.
void putBits(std::uint32_t value, int count);
// Pads with zero bits up to the next byte boundary.
void alignBits();
// Aligns, then writes the 32-bit start code prefix and `code` (0x00..0xFF).
void putStartCode(std::uint32_t code);
// Writes every complete byte held back so far to the stream.
void flushBitWriter();

}  // namespace quiltbench::encoder
