// The fixed tables of the coded video syntax: variable-length codes, scans,
// default quantiser matrix and quantiser scales. Each table is typed once here,
// with the ISO/IEC 13818-2 clause it comes from; lookups are derived from them.
#pragma once

#include <array>
#include <cstdint>

// The tables keep the row layout of the standard's tables.
// clang-format off
namespace quiltbench::encoder {

struct VlcCode {
  std::uint16_t code;  // right-aligned
  std::uint8_t length; // 0: no code
};

// ISO/IEC 13818-2 Table B.1: macroblock_address_increment 1..33.
inline constexpr std::array<VlcCode, 34> kAddressIncrementVlc{{
    {0, 0},      {0x1, 1},    {0x3, 3},    {0x2, 3},    {0x3, 4},    {0x2, 4},    {0x3, 5},
    {0x2, 5},    {0x7, 7},    {0x6, 7},    {0xb, 8},    {0xa, 8},    {0x9, 8},    {0x8, 8},
    {0x7, 8},    {0x6, 8},    {0x17, 10},  {0x16, 10},  {0x15, 10},  {0x14, 10},  {0x13, 10},
    {0x12, 10},  {0x23, 11},  {0x22, 11},  {0x21, 11},  {0x20, 11},  {0x1f, 11},  {0x1e, 11},
    {0x1d, 11},  {0x1c, 11},  {0x1b, 11},  {0x1a, 11},  {0x19, 11},  {0x18, 11},
}};
// ISO/IEC 13818-2 Table B.1: macroblock_escape, adds 33 to the increment.
inline constexpr VlcCode kAddressEscapeVlc{0x08, 11};

// ISO/IEC 13818-2 Tables B.2, B.3 and B.4: macroblock_type of I, P and B
// pictures, indexed by the flags quant 16, forward 8, backward 4, pattern 2,
// intra 1 (the order of the flags in the syntax).
inline constexpr std::array<VlcCode, 32> kMacroblockTypeI = [] {
  std::array<VlcCode, 32> t{};
  t[1] = {0x1, 1};   // intra
  t[17] = {0x1, 2};  // intra, quant
  return t;
}();
inline constexpr std::array<VlcCode, 32> kMacroblockTypeP = [] {
  std::array<VlcCode, 32> t{};
  t[10] = {0x1, 1};  // forward, pattern
  t[2] = {0x1, 2};   // pattern
  t[8] = {0x1, 3};   // forward
  t[1] = {0x3, 5};   // intra
  t[26] = {0x2, 5};  // quant, forward, pattern
  t[18] = {0x1, 5};  // quant, pattern
  t[17] = {0x1, 6};  // quant, intra
  return t;
}();
inline constexpr std::array<VlcCode, 32> kMacroblockTypeB = [] {
  std::array<VlcCode, 32> t{};
  t[12] = {0x2, 2};  // forward, backward
  t[14] = {0x3, 2};  // forward, backward, pattern
  t[4] = {0x2, 3};   // backward
  t[6] = {0x3, 3};   // backward, pattern
  t[8] = {0x2, 4};   // forward
  t[10] = {0x3, 4};  // forward, pattern
  t[1] = {0x3, 5};   // intra
  t[30] = {0x2, 5};  // quant, forward, backward, pattern
  t[26] = {0x3, 6};  // quant, forward, pattern
  t[22] = {0x2, 6};  // quant, backward, pattern
  t[17] = {0x1, 6};  // quant, intra
  return t;
}();

// ISO/IEC 13818-2 Table B.9: coded_block_pattern_420 0..63 (0 only in MPEG-2).
inline constexpr std::array<VlcCode, 64> kCodedBlockPatternVlc{{
    {0x01, 9}, {0x0b, 5}, {0x09, 5}, {0x0d, 6}, {0x0d, 4}, {0x17, 7}, {0x13, 7}, {0x1f, 8},
    {0x0c, 4}, {0x16, 7}, {0x12, 7}, {0x1e, 8}, {0x13, 5}, {0x1b, 8}, {0x17, 8}, {0x13, 8},
    {0x0b, 4}, {0x15, 7}, {0x11, 7}, {0x1d, 8}, {0x11, 5}, {0x19, 8}, {0x15, 8}, {0x11, 8},
    {0x0f, 6}, {0x0f, 8}, {0x0d, 8}, {0x03, 9}, {0x0f, 5}, {0x0b, 8}, {0x07, 8}, {0x07, 9},
    {0x0a, 4}, {0x14, 7}, {0x10, 7}, {0x1c, 8}, {0x0e, 6}, {0x0e, 8}, {0x0c, 8}, {0x02, 9},
    {0x10, 5}, {0x18, 8}, {0x14, 8}, {0x10, 8}, {0x0e, 5}, {0x0a, 8}, {0x06, 8}, {0x06, 9},
    {0x12, 5}, {0x1a, 8}, {0x16, 8}, {0x12, 8}, {0x0d, 5}, {0x09, 8}, {0x05, 8}, {0x05, 9},
    {0x0c, 5}, {0x08, 8}, {0x04, 8}, {0x04, 9}, {0x07, 3}, {0x0a, 5}, {0x08, 5}, {0x0c, 6},
}};

// ISO/IEC 13818-2 Table B.10: motion_code magnitude 0..16; a sign bit (1 for
// negative) follows every code but that of 0.
inline constexpr std::array<VlcCode, 17> kMotionCodeVlc{{
    {0x1, 1}, {0x1, 2}, {0x1, 3}, {0x1, 4}, {0x3, 6}, {0x5, 7}, {0x4, 7}, {0x3, 7}, {0xb, 9},
    {0xa, 9}, {0x9, 9}, {0x11, 10}, {0x10, 10}, {0xf, 10}, {0xe, 10}, {0xd, 10}, {0xc, 10},
}};

// ISO/IEC 13818-2 Table B.11: dmvector -1, 0, +1 (index value + 1).
inline constexpr std::array<VlcCode, 3> kDualPrimeVlc{{{0x3, 2}, {0x0, 1}, {0x2, 2}}};

// ISO/IEC 13818-2 Table B.12: dct_dc_size_luminance 0..11.
inline constexpr std::array<VlcCode, 12> kDcSizeLuminanceVlc{{
    {0x4, 3}, {0x0, 2}, {0x1, 2}, {0x5, 3}, {0x6, 3}, {0xe, 4}, {0x1e, 5}, {0x3e, 6},
    {0x7e, 7}, {0xfe, 8}, {0x1fe, 9}, {0x1ff, 9},
}};
// ISO/IEC 13818-2 Table B.13: dct_dc_size_chrominance 0..11.
inline constexpr std::array<VlcCode, 12> kDcSizeChrominanceVlc{{
    {0x0, 2}, {0x1, 2}, {0x2, 2}, {0x6, 3}, {0xe, 4}, {0x1e, 5}, {0x3e, 6}, {0x7e, 7},
    {0xfe, 8}, {0x1fe, 9}, {0x3fe, 10}, {0x3ff, 10},
}};

// One run/level pair of a DCT coefficient table; the sign bit (1 for negative)
// follows the code.
struct RunLevelCode {
  std::uint8_t run;
  std::uint8_t level;
  std::uint16_t code;
  std::uint8_t length;  // without the sign bit
};

// ISO/IEC 13818-2 Table B.14: DCT coefficients table zero (also the only table
// of ISO/IEC 11172-2). Run 0, level 1 codes as "1s" when it is the first
// coefficient of a non-intra block; listed here is the "11s" form.
inline constexpr std::array<RunLevelCode, 111> kCoefficientTableZero{{
    {0, 1, 0x3, 2},     {1, 1, 0x3, 3},     {0, 2, 0x4, 4},     {2, 1, 0x5, 4},
    {0, 3, 0x5, 5},     {3, 1, 0x7, 5},     {4, 1, 0x6, 5},     {1, 2, 0x6, 6},
    {5, 1, 0x7, 6},     {6, 1, 0x5, 6},     {7, 1, 0x4, 6},     {0, 4, 0x6, 7},
    {2, 2, 0x4, 7},     {8, 1, 0x7, 7},     {9, 1, 0x5, 7},     {0, 5, 0x26, 8},
    {0, 6, 0x21, 8},    {1, 3, 0x25, 8},    {3, 2, 0x24, 8},    {10, 1, 0x27, 8},
    {11, 1, 0x23, 8},   {12, 1, 0x22, 8},   {13, 1, 0x20, 8},   {0, 7, 0xa, 10},
    {1, 4, 0xc, 10},    {2, 3, 0xb, 10},    {4, 2, 0xf, 10},    {5, 2, 0x9, 10},
    {14, 1, 0xe, 10},   {15, 1, 0xd, 10},   {16, 1, 0x8, 10},   {0, 8, 0x1d, 12},
    {0, 9, 0x18, 12},   {0, 10, 0x13, 12},  {0, 11, 0x10, 12},  {1, 5, 0x1b, 12},
    {2, 4, 0x14, 12},   {3, 3, 0x1c, 12},   {4, 3, 0x12, 12},   {6, 2, 0x1e, 12},
    {7, 2, 0x15, 12},   {8, 2, 0x11, 12},   {17, 1, 0x1f, 12},  {18, 1, 0x1a, 12},
    {19, 1, 0x19, 12},  {20, 1, 0x17, 12},  {21, 1, 0x16, 12},  {0, 12, 0x1a, 13},
    {0, 13, 0x19, 13},  {0, 14, 0x18, 13},  {0, 15, 0x17, 13},  {1, 6, 0x16, 13},
    {1, 7, 0x15, 13},   {2, 5, 0x14, 13},   {3, 4, 0x13, 13},   {5, 3, 0x12, 13},
    {9, 2, 0x11, 13},   {10, 2, 0x10, 13},  {22, 1, 0x1f, 13},  {23, 1, 0x1e, 13},
    {24, 1, 0x1d, 13},  {25, 1, 0x1c, 13},  {26, 1, 0x1b, 13},  {0, 16, 0x1f, 14},
    {0, 17, 0x1e, 14},  {0, 18, 0x1d, 14},  {0, 19, 0x1c, 14},  {0, 20, 0x1b, 14},
    {0, 21, 0x1a, 14},  {0, 22, 0x19, 14},  {0, 23, 0x18, 14},  {0, 24, 0x17, 14},
    {0, 25, 0x16, 14},  {0, 26, 0x15, 14},  {0, 27, 0x14, 14},  {0, 28, 0x13, 14},
    {0, 29, 0x12, 14},  {0, 30, 0x11, 14},  {0, 31, 0x10, 14},  {0, 32, 0x18, 15},
    {0, 33, 0x17, 15},  {0, 34, 0x16, 15},  {0, 35, 0x15, 15},  {0, 36, 0x14, 15},
    {0, 37, 0x13, 15},  {0, 38, 0x12, 15},  {0, 39, 0x11, 15},  {0, 40, 0x10, 15},
    {1, 8, 0x1f, 15},   {1, 9, 0x1e, 15},   {1, 10, 0x1d, 15},  {1, 11, 0x1c, 15},
    {1, 12, 0x1b, 15},  {1, 13, 0x1a, 15},  {1, 14, 0x19, 15},  {1, 15, 0x13, 16},
    {1, 16, 0x12, 16},  {1, 17, 0x11, 16},  {1, 18, 0x10, 16},  {6, 3, 0x14, 16},
    {11, 2, 0x1a, 16},  {12, 2, 0x19, 16},  {13, 2, 0x18, 16},  {14, 2, 0x17, 16},
    {15, 2, 0x16, 16},  {16, 2, 0x15, 16},  {27, 1, 0x1f, 16},  {28, 1, 0x1e, 16},
    {29, 1, 0x1d, 16},  {30, 1, 0x1c, 16},  {31, 1, 0x1b, 16},
}};
inline constexpr VlcCode kEndOfBlockTableZero{0x2, 2};

// ISO/IEC 13818-2 Table B.15: DCT coefficients table one (intra blocks with
// intra_vlc_format 1).
inline constexpr std::array<RunLevelCode, 111> kCoefficientTableOne{{
    {0, 1, 0x2, 2},     {1, 1, 0x2, 3},     {0, 2, 0x6, 3},     {2, 1, 0x5, 5},
    {0, 3, 0x7, 4},     {3, 1, 0x7, 5},     {4, 1, 0x6, 6},     {1, 2, 0x6, 5},
    {5, 1, 0x7, 6},     {6, 1, 0x6, 7},     {7, 1, 0x4, 7},     {0, 4, 0x1c, 5},
    {2, 2, 0x7, 7},     {8, 1, 0x5, 7},     {9, 1, 0x78, 7},    {0, 5, 0x1d, 5},
    {0, 6, 0x5, 6},     {1, 3, 0x79, 7},    {3, 2, 0x26, 8},    {10, 1, 0x7a, 7},
    {11, 1, 0x21, 8},   {12, 1, 0x25, 8},   {13, 1, 0x24, 8},   {0, 7, 0x4, 6},
    {1, 4, 0x27, 8},    {2, 3, 0xfc, 8},    {4, 2, 0xfd, 8},    {5, 2, 0x4, 9},
    {14, 1, 0x5, 9},    {15, 1, 0x7, 9},    {16, 1, 0xd, 10},   {0, 8, 0x7b, 7},
    {0, 9, 0x7c, 7},    {0, 10, 0x23, 8},   {0, 11, 0x22, 8},   {1, 5, 0x20, 8},
    {2, 4, 0xc, 10},    {3, 3, 0x1c, 12},   {4, 3, 0x12, 12},   {6, 2, 0x1e, 12},
    {7, 2, 0x15, 12},   {8, 2, 0x11, 12},   {17, 1, 0x1f, 12},  {18, 1, 0x1a, 12},
    {19, 1, 0x19, 12},  {20, 1, 0x17, 12},  {21, 1, 0x16, 12},  {0, 12, 0xfa, 8},
    {0, 13, 0xfb, 8},   {0, 14, 0xfe, 8},   {0, 15, 0xff, 8},   {1, 6, 0x16, 13},
    {1, 7, 0x15, 13},   {2, 5, 0x14, 13},   {3, 4, 0x13, 13},   {5, 3, 0x12, 13},
    {9, 2, 0x11, 13},   {10, 2, 0x10, 13},  {22, 1, 0x1f, 13},  {23, 1, 0x1e, 13},
    {24, 1, 0x1d, 13},  {25, 1, 0x1c, 13},  {26, 1, 0x1b, 13},  {0, 16, 0x1f, 14},
    {0, 17, 0x1e, 14},  {0, 18, 0x1d, 14},  {0, 19, 0x1c, 14},  {0, 20, 0x1b, 14},
    {0, 21, 0x1a, 14},  {0, 22, 0x19, 14},  {0, 23, 0x18, 14},  {0, 24, 0x17, 14},
    {0, 25, 0x16, 14},  {0, 26, 0x15, 14},  {0, 27, 0x14, 14},  {0, 28, 0x13, 14},
    {0, 29, 0x12, 14},  {0, 30, 0x11, 14},  {0, 31, 0x10, 14},  {0, 32, 0x18, 15},
    {0, 33, 0x17, 15},  {0, 34, 0x16, 15},  {0, 35, 0x15, 15},  {0, 36, 0x14, 15},
    {0, 37, 0x13, 15},  {0, 38, 0x12, 15},  {0, 39, 0x11, 15},  {0, 40, 0x10, 15},
    {1, 8, 0x1f, 15},   {1, 9, 0x1e, 15},   {1, 10, 0x1d, 15},  {1, 11, 0x1c, 15},
    {1, 12, 0x1b, 15},  {1, 13, 0x1a, 15},  {1, 14, 0x19, 15},  {1, 15, 0x13, 16},
    {1, 16, 0x12, 16},  {1, 17, 0x11, 16},  {1, 18, 0x10, 16},  {6, 3, 0x14, 16},
    {11, 2, 0x1a, 16},  {12, 2, 0x19, 16},  {13, 2, 0x18, 16},  {14, 2, 0x17, 16},
    {15, 2, 0x16, 16},  {16, 2, 0x15, 16},  {27, 1, 0x1f, 16},  {28, 1, 0x1e, 16},
    {29, 1, 0x1d, 16},  {30, 1, 0x1c, 16},  {31, 1, 0x1b, 16},
}};
inline constexpr VlcCode kEndOfBlockTableOne{0x6, 4};

// ISO/IEC 13818-2 Table B.16 (and ISO/IEC 11172-2 2.4.3.7): the escape code,
// followed by a 6-bit run and the level (12 bits; 8 or 16 bits in MPEG-1).
inline constexpr VlcCode kCoefficientEscape{0x1, 6};

// ISO/IEC 13818-2 7.3.1 Figure 7-2: zigzag scan, scan position -> raster index.
inline constexpr std::array<std::uint8_t, 64> kZigzagScan{{
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
}};
// ISO/IEC 13818-2 7.3.1 Figure 7-3: alternate scan, scan position -> raster index.
inline constexpr std::array<std::uint8_t, 64> kAlternateScan{{
    0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
    41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
    51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
    53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63,
}};

// ISO/IEC 13818-2 6.3.11: default intra quantiser matrix, raster order.
inline constexpr std::array<std::uint8_t, 64> kDefaultIntraQuantiserMatrix{{
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83,
}};

// ISO/IEC 13818-2 7.4.2.2 Table 7-6: quantiser_scale by quantiser_scale_code
// for q_scale_type 1 (non-linear); q_scale_type 0 gives 2 * code.
inline constexpr std::array<std::uint8_t, 32> kNonLinearQuantiserScale{{
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18, 20,  22,
    24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112,
}};

}  // namespace quiltbench::encoder
// clang-format on
