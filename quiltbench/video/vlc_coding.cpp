// Variable-length coding of macroblock elements and coefficient blocks, using
// lookups derived from the tables in vlc_tables.h.
#include "quiltbench/video/vlc_coding.h"

#include <array>
#include <bit>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quiltbench/video/bit_writer.h"
#include "quiltbench/video/encoder_state.h"
#include "quiltbench/video/vlc_tables.h"

namespace quiltbench::encoder {
namespace {

// The codes of one coefficient table by run and signed level, sign bit
// included: entry = (code << 1 | sign) << 6 | (length + 1), 0 where the table
// has no code (escape). Runs of 32 and more and levels beyond +-40 always
// escape. 10 KB, one load per level.
constexpr int kTableRuns = 32;
constexpr int kMaxTableLevel = 40;
struct RunLevelLookup {
  std::uint32_t entries[kTableRuns][2 * kMaxTableLevel + 1]{};
};

template <std::size_t n>
RunLevelLookup buildLookup(const std::array<RunLevelCode, n>& table) {
  RunLevelLookup lookup;
  for (const RunLevelCode& entry : table) {
    // (The tables stay within these bounds; anything beyond would escape.)
    if (entry.run >= kTableRuns || entry.level > kMaxTableLevel) continue;
    const std::uint32_t count = entry.length + 1u;
    const std::uint32_t code = static_cast<std::uint32_t>(entry.code) << 1;
    lookup.entries[entry.run][kMaxTableLevel + entry.level] = code << 6 | count;
    lookup.entries[entry.run][kMaxTableLevel - entry.level] = (code | 1) << 6 | count;
  }
  return lookup;
}

const RunLevelLookup& tableZero() {
  static const RunLevelLookup lookup = buildLookup(kCoefficientTableZero);
  return lookup;
}
const RunLevelLookup& tableOne() {
  static const RunLevelLookup lookup = buildLookup(kCoefficientTableOne);
  return lookup;
}

// The escape code, the run, then the level in 12 bits (MPEG-2) or in 8 or 16
// bits (MPEG-1); at most 28 bits in all.
void putEscape(int run, int level, bool mpeg1, BitBatch& bits) {
  const std::uint32_t prefix =
      static_cast<std::uint32_t>(kCoefficientEscape.code) << 6 | static_cast<std::uint32_t>(run);
  const int prefixLength = kCoefficientEscape.length + 6;
  if (!mpeg1) {
    bits.put(prefix << 12 | (static_cast<std::uint32_t>(level) & 0xfff), prefixLength + 12);
  } else if (std::abs(level) < 128) {
    bits.put(prefix << 8 | (static_cast<std::uint32_t>(level) & 0xff), prefixLength + 8);
  } else if (level > 0) {
    bits.put(prefix << 16 | static_cast<std::uint32_t>(level), prefixLength + 16);
  } else {
    bits.put(prefix << 16 | 0x8000 | static_cast<std::uint32_t>(level + 256), prefixLength + 16);
  }
}

// `run` is 0..63, `level` not zero.
inline void putRunLevel(int run, int level, const RunLevelLookup& table, bool mpeg1,
                        BitBatch& bits) {
  const auto column = static_cast<unsigned>(level + kMaxTableLevel);
  if (run < kTableRuns && column <= 2 * kMaxTableLevel) {
    const std::uint32_t entry = table.entries[run][column];
    if (entry != 0) {
      bits.put(entry >> 6, static_cast<int>(entry & 63));
      return;
    }
  }
  putEscape(run, level, mpeg1, bits);
}

// Bit r set where levels[r] (raster order) is not zero.
std::uint64_t rasterMask(const std::array<std::int16_t, 64>& levels) {
#if defined(__SSE2__)
  std::uint64_t mask = 0;
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&levels[i]));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&levels[i + 8]));
    const __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    mask |= static_cast<std::uint64_t>(~_mm_movemask_epi8(isZero) & 0xffff) << i;
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int r = 0; r < 64; ++r) mask |= static_cast<std::uint64_t>(levels[r] != 0) << r;
  return mask;
#endif
}

// The scan positions of raster positions, and of every group of four raster
// positions at once: scanBits[n][v] has the scan bit of raster position
// 4n + k for every bit k set in v.
struct ScanLookup {
  const std::uint8_t* scan = nullptr;
  std::array<std::uint8_t, 64> position{};
  std::uint64_t scanBits[16][16]{};

  void build(const std::uint8_t* newScan) {
    for (int i = 0; i < 64; ++i) position[newScan[i]] = static_cast<std::uint8_t>(i);
    for (int n = 0; n < 16; ++n) {
      for (int v = 0; v < 16; ++v) {
        std::uint64_t bits = 0;
        for (int k = 0; k < 4; ++k) {
          if (v & (1 << k)) bits |= 1ull << position[4 * n + k];
        }
        scanBits[n][v] = bits;
      }
    }
    scan = newScan;
  }
};

// Bit i set where levels[scan[i]] is not zero: the block's levels in coding
// order, so the coder visits only the non-zero ones.
std::uint64_t scanMask(const std::array<std::int16_t, 64>& levels, const std::uint8_t* scan) {
  // Pictures use one scan throughout: the lookup of the last one is kept.
  static thread_local ScanLookup lookup;
  if (scan != lookup.scan) lookup.build(scan);
  std::uint64_t raster = rasterMask(levels);
  std::uint64_t mask = 0;
  // The first levels one move each; whatever a dense block has left, sixteen
  // lookups of four positions.
  constexpr int kFewLevels = 4;
  for (int k = 0; raster != 0 && k < kFewLevels; ++k, raster &= raster - 1) {
    mask |= 1ull << lookup.position[std::countr_zero(raster)];
  }
  if (raster == 0) return mask;
  for (int n = 0; n < 16; ++n) mask |= lookup.scanBits[n][(raster >> (4 * n)) & 15];
  return mask;
}

}  // namespace

void putAddressIncrement(int increment) {
  while (increment > 33) {
    putBits(kAddressEscapeVlc.code, kAddressEscapeVlc.length);
    increment -= 33;
  }
  putBits(kAddressIncrementVlc[increment].code, kAddressIncrementVlc[increment].length);
}

void putMacroblockType(int pictureType, int flags) {
  const std::array<VlcCode, 32>& table = pictureType == kPictureI   ? kMacroblockTypeI
                                         : pictureType == kPictureP ? kMacroblockTypeP
                                                                    : kMacroblockTypeB;
  const VlcCode& vlc = table[flags & 31];
  if (vlc.length == 0) encoder_fatal("internal error: macroblock type not codable");
  putBits(vlc.code, vlc.length);
}

void putCodedBlockPattern(int cbp, int blockCount) {
  const int extra = blockCount - 6;
  const int first = cbp >> extra;
  putBits(kCodedBlockPatternVlc[first].code, kCodedBlockPatternVlc[first].length);
  if (extra > 0) putBits(static_cast<std::uint32_t>(cbp) & ((1u << extra) - 1), extra);
}

void putMotionComponent(int vector, int prediction, int fCode) {
  const int rSize = fCode - 1;
  const int f = 1 << rSize;
  const int low = -16 * f;
  const int high = 16 * f - 1;
  const int range = 32 * f;
  int delta = vector - prediction;
  if (delta < low) delta += range;
  if (delta > high) delta -= range;
  if (delta == 0) {
    putBits(kMotionCodeVlc[0].code, kMotionCodeVlc[0].length);
    return;
  }
  const int magnitude = std::abs(delta) - 1;
  const int code = (magnitude >> rSize) + 1;
  const int residual = magnitude & (f - 1);
  putBits(kMotionCodeVlc[code].code, kMotionCodeVlc[code].length);
  putBits(delta < 0 ? 1 : 0, 1);
  if (rSize > 0) putBits(static_cast<std::uint32_t>(residual), rSize);
}

void putDualPrimeVector(int value) {
  putBits(kDualPrimeVlc[value + 1].code, kDualPrimeVlc[value + 1].length);
}

void putIntraBlock(const std::array<std::int16_t, 64>& levels, int component, int& dcPredictor,
                   const BlockCoding& coding) {
  const int difference = levels[0] - dcPredictor;
  dcPredictor = levels[0];
  const int size = std::bit_width(static_cast<unsigned>(std::abs(difference)));
  const VlcCode& sizeVlc = component == 0 ? kDcSizeLuminanceVlc[size] : kDcSizeChrominanceVlc[size];
  BitBatch bits;
  bits.put(sizeVlc.code, sizeVlc.length);
  if (size > 0) {
    const int value = difference > 0 ? difference : difference + (1 << size) - 1;
    bits.put(static_cast<std::uint32_t>(value), size);
  }
  const RunLevelLookup& table = coding.intraTableOne ? tableOne() : tableZero();
  // Copies the loop keeps in registers: the writer's byte stores could alias `coding`.
  const std::uint8_t* const scan = coding.scan;
  const bool mpeg1 = coding.mpeg1;
  int last = 0;
  for (std::uint64_t m = scanMask(levels, scan) & ~1ull; m != 0; m &= m - 1) {
    const int i = std::countr_zero(m);
    putRunLevel(i - last - 1, levels[scan[i]], table, mpeg1, bits);
    last = i;
  }
  const VlcCode end = coding.intraTableOne ? kEndOfBlockTableOne : kEndOfBlockTableZero;
  bits.put(end.code, end.length);
  bits.finish();
}

void putNonIntraBlock(const std::array<std::int16_t, 64>& levels, const BlockCoding& coding) {
  const RunLevelLookup& table = tableZero();
  // Copies the loop keeps in registers: the writer's byte stores could alias `coding`.
  const std::uint8_t* const scan = coding.scan;
  const bool mpeg1 = coding.mpeg1;
  BitBatch bits;
  int last = -1;
  std::uint64_t m = scanMask(levels, scan);
  if (m & 1) {
    const int level = levels[scan[0]];
    if (level == 1 || level == -1) {
      // The first coefficient of a non-intra block has the short form "1s".
      bits.put(level < 0 ? 3 : 2, 2);
      last = 0;
      m &= m - 1;
    }
  }
  for (; m != 0; m &= m - 1) {
    const int i = std::countr_zero(m);
    putRunLevel(i - last - 1, levels[scan[i]], table, mpeg1, bits);
    last = i;
  }
  bits.put(kEndOfBlockTableZero.code, kEndOfBlockTableZero.length);
  bits.finish();
}

}  // namespace quiltbench::encoder
