// Single-image synthesis through DIB handles: output sizes, refused samples, colour
// tables, offsets across runs, the time-cost message, failures and ownership.
#include "quiltbench/engine/graph_cut_synthesizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <utility>

#include "engine_test_images.h"
#include "platform/bitmap_format.h"
#include "platform/clock.h"
#include "platform/recording_ui.h"
#include "quiltbench/engine/candidate_search.h"

namespace {

using engine_test::BrickImage;
using engine_test::MakeDib;
using engine_test::MakeDib24;

platform::BitmapInfoHeader HeaderOf(platform::HGLOBAL dib) {
  platform::GlobalLockGuard lock(dib);
  return platform::loadPacked<platform::BitmapInfoHeader>(lock.data());
}

// The rows of a 24-bit result, as the engine stored them.
PixelRows RowsOf(platform::HGLOBAL dib) {
  const platform::BitmapInfoHeader h = HeaderOf(dib);
  PixelRows rows(h.width, h.height);
  platform::GlobalLockGuard lock(dib);
  const auto* bits = lock.as<std::uint8_t>() + 40;
  for (int y = 0; y < h.height; ++y)
    std::memcpy(rows[y], bits + platform::dibStride(h.width, 24) * y, rows.stride());
  return rows;
}

class SynthesizeImageTest : public testing::Test {
 protected:
  platform::FixedClock clock_{1700000000};
  platform::ScopedClock useClock_{clock_};
  platform::RecordingUi ui_;
  platform::ScopedUi useUi_{ui_};
};

TEST_F(SynthesizeImageTest, OutputSizesFollowThePatchGrid) {
  struct Case {
    int w, h;
    float sx, sy;
    int width, height;
  } const cases[] = {
      {64, 64, 2.0f, 2.0f, 128, 128},  // 5 x 5 patches
      {50, 50, 1.0f, 1.0f, 32, 32},    // a single patch
      {100, 70, 1.5f, 2.3f, 128, 152}, {33, 200, 3.0f, 0.9f, 80, 176},
      {40, 33, 0.5f, 0.1f, 32, 32},  // less than one patch still gives one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " * " << c.sx << ", " << c.sy);
    CGraphCutSynthesizer engine;
    engine.m_bRandom = 1;
    const platform::HGLOBAL source = MakeDib24(BrickImage(c.w, c.h, 4));
    const platform::HGLOBAL result = engine.SynthesizeImage(source, c.sx, c.sy);
    ASSERT_NE(result, nullptr);
    const platform::BitmapInfoHeader h = HeaderOf(result);
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.bitCount, 24);
    EXPECT_EQ(h.clrUsed, 0u);
    EXPECT_EQ(platform::GlobalSize(result), 40 + platform::dibStride(c.width, 24) * c.height);
    EXPECT_EQ((c.width - 32) % 24, 0);
    const int scaled = static_cast<int>(c.w * c.sx);
    if (scaled >= 32) {
      EXPECT_LE(c.width, scaled);
    }
    EXPECT_EQ(platform::GlobalLockCount(source), 0);
    platform::GlobalFree(result);
    platform::GlobalFree(source);
  }
}

TEST_F(SynthesizeImageTest, ShortColourTablesAreRefusedWithTheMessageUnchanged) {
  std::vector<std::uint8_t> palette16(16 * 3, 7), palette2(2 * 3, 9), palette100(100 * 3, 5);
  auto zero = [](int, int, std::uint8_t*) {};
  struct Case {
    const char* name;
    platform::HGLOBAL dib;
  } const cases[] = {
      {"16 colours", MakeDib(64, 64, 4, palette16, zero)},
      {"2 colours", MakeDib(64, 64, 1, palette2, zero)},
      {"8 bits, 100 colours", MakeDib(64, 64, 8, palette100, zero, 100)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CGraphCutSynthesizer engine;
    engine.m_strMessage = "earlier text";
    EXPECT_EQ(engine.SynthesizeImage(c.dib, 2.0f, 2.0f), nullptr);
    EXPECT_EQ(engine.m_strMessage, "earlier text");
    EXPECT_TRUE(engine.m_usedOffsets.empty());
    platform::GlobalFree(c.dib);
  }
}

TEST_F(SynthesizeImageTest, BadHandlesGiveNoImage) {
  CGraphCutSynthesizer engine;
  EXPECT_EQ(engine.SynthesizeImage(nullptr, 2.0f, 2.0f), nullptr);

  // A header that claims more rows than the block holds.
  platform::HGLOBAL dib = MakeDib24(BrickImage(64, 64, 1));
  platform::HGLOBAL cut = platform::GlobalAlloc(platform::GHND, 40 + 192 * 10);
  {
    platform::GlobalLockGuard from(dib), to(cut);
    std::memcpy(to.data(), from.data(), 40 + 192 * 10);
  }
  EXPECT_EQ(engine.SynthesizeImage(cut, 2.0f, 2.0f), nullptr);
  EXPECT_TRUE(CGraphCutSynthesizer::DibToRows(cut).empty());

  // Top-down (negative height) and tiny samples.
  auto withSize = [&](int width, int height) {
    platform::GlobalLockGuard lock(dib);
    auto header = platform::loadPacked<platform::BitmapInfoHeader>(lock.data());
    header.width = width;
    header.height = height;
    platform::storePacked(lock.data(), header);
  };
  for (auto [width, height] : {std::pair{64, -64}, std::pair{31, 64}, std::pair{64, 20}}) {
    withSize(width, height);
    EXPECT_EQ(engine.SynthesizeImage(dib, 2.0f, 2.0f), nullptr) << width << "x" << height;
  }
  withSize(64, 64);
  EXPECT_EQ(engine.SynthesizeImage(dib, NAN, 2.0f), nullptr);
  EXPECT_EQ(engine.SynthesizeImage(dib, 1e30f, 1e30f), nullptr);
  platform::GlobalFree(cut);
  platform::GlobalFree(dib);
}

// Headers that lie about the block: each either gives an image or none, and nothing is
// read past the block (the sanitizer build checks the reads).
TEST_F(SynthesizeImageTest, HostileHeadersNeverReadPastTheBlock) {
  struct Case {
    const char* name;
    std::uint32_t headerSize;
    int width, height, bitCount;
    std::uint32_t clrUsed;
    std::size_t blockBytes;
    bool image;
  } const cases[] = {
      {"8 bits, 300 colours claimed, none stored", 40, 40, 40, 8, 300, 40 + 40 * 40, false},
      {"8 bits, 65535 colours claimed", 40, 40, 40, 8, 65535, 40 + 1024 + 40 * 40, false},
      {"8 bits, 300 colours stored", 40, 40, 40, 8, 300, 40 + 1200 + 40 * 40, true},
      {"zero width", 40, 0, 40, 24, 0, 40 + 4000, false},
      {"zero bit count", 40, 40, 40, 0, 0, 40 + 100, false},  // refused, never black rows
      {"core header, 8 bits, table cut short", 12, 40, 40, 8, 0, 12 + 100, false},
      {"header only", 40, 64, 64, 24, 0, 40, false},
      {"less than a header", 40, 64, 64, 24, 0, 20, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::HGLOBAL dib = platform::GlobalAlloc(platform::GHND, c.blockBytes);
    {
      platform::GlobalLockGuard lock(dib);
      auto* out = lock.as<std::uint8_t>();
      std::memset(out, 0x5A, c.blockBytes);
      if (c.headerSize == 40 && c.blockBytes >= 40) {
        platform::BitmapInfoHeader h{};
        h.size = 40;
        h.width = c.width;
        h.height = c.height;
        h.planes = 1;
        h.bitCount = static_cast<std::uint16_t>(c.bitCount);
        h.clrUsed = c.clrUsed;
        platform::storePacked(out, h);
      } else if (c.blockBytes >= 12) {
        platform::BitmapCoreHeader h{12, static_cast<std::uint16_t>(c.width),
                                     static_cast<std::uint16_t>(c.height), 1,
                                     static_cast<std::uint16_t>(c.bitCount)};
        platform::storePacked(out, h);
      } else {
        platform::storePacked(out, std::uint32_t{40});
      }
    }
    CGraphCutSynthesizer engine;
    engine.m_bRandom = 1;
    const platform::HGLOBAL result = engine.SynthesizeImage(dib, 1.0f, 1.0f);
    EXPECT_EQ(result != nullptr, c.image);
    CGraphCutSynthesizer::DibToRows(dib);
    platform::GlobalFree(result);
    platform::GlobalFree(dib);
  }
}

TEST_F(SynthesizeImageTest, EightBitSamplesGoThroughTheirColourTable) {
  std::vector<std::uint8_t> palette(256 * 3);
  for (int i = 0; i < 256; ++i) {
    palette[3 * i] = static_cast<std::uint8_t>(i);
    palette[3 * i + 1] = static_cast<std::uint8_t>(255 - i);
    palette[3 * i + 2] = static_cast<std::uint8_t>(i * 7);
  }
  const PixelRows bricks = BrickImage(64, 64, 8);
  const platform::HGLOBAL dib = MakeDib(
      64, 64, 8, palette, [&](int x, int y, std::uint8_t* p) { *p = bricks.pixel(x, y)[2]; });
  const PixelRows rows = CGraphCutSynthesizer::DibToRows(dib);
  ASSERT_EQ(rows.width(), 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const int i = bricks.pixel(x, y)[2];
      ASSERT_EQ(std::memcmp(rows.pixel(x, y), &palette[3 * i], 3), 0) << x << "," << y;
    }

  CGraphCutSynthesizer engine;
  engine.m_nSearchMode = 2;
  const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(HeaderOf(result).bitCount, 24);
  const PixelRows out = RowsOf(result);
  std::set<std::uint32_t> colours;
  for (int i = 0; i < 256; ++i)
    colours.insert(palette[3 * i] | palette[3 * i + 1] << 8 | palette[3 * i + 2] << 16);
  for (int y = 0; y < out.height(); ++y)
    for (int x = 0; x < out.width(); ++x) {
      const std::uint8_t* p = out.pixel(x, y);
      ASSERT_TRUE(colours.count(p[0] | p[1] << 8 | p[2] << 16)) << x << "," << y;
    }
  platform::GlobalFree(result);
  platform::GlobalFree(dib);
}

TEST_F(SynthesizeImageTest, TwoRunsNeverReuseAnOffset) {
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    CGraphCutSynthesizer engine;
    engine.m_bRandom = mode == 0;
    engine.m_nSearchMode = mode == 2 ? 2 : 1;
    const platform::HGLOBAL dib = MakeDib24(BrickImage(64, 64, 2));
    for (int run = 0; run < 2; ++run) platform::GlobalFree(engine.SynthesizeImage(dib, 2.0f, 2.0f));
    ASSERT_EQ(engine.m_usedOffsets.size(), 50u);
    std::set<std::pair<int, int>> distinct;
    for (const CPoint& p : engine.m_usedOffsets) distinct.insert({p.x, p.y});
    EXPECT_EQ(distinct.size(), 50u);
    platform::GlobalFree(dib);
  }
}

// Ticks that move on by 1.5 s at every reading.
class SteppingClock final : public platform::Clock {
 public:
  std::time_t secondsNow() override { return 1700000000; }
  std::uint32_t tickCount() override { return ticks_ += 1500; }

 private:
  std::uint32_t ticks_ = 0xFFFFF000u;  // the counter wraps during the run
};

TEST_F(SynthesizeImageTest, MessageGivesTheTimeCostWithSixDecimals) {
  SteppingClock stepping;
  platform::ScopedClock useStepping(stepping);
  CGraphCutSynthesizer engine;
  engine.m_bPostProcess = 1;
  const platform::HGLOBAL dib = MakeDib24(BrickImage(64, 64, 3));
  const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
  EXPECT_NE(result, nullptr);
  EXPECT_EQ(engine.m_strMessage, "Time Cost: 1.500000 seconds\n");
  // The plan and one progress line a patch row, on the UI's progress channel only.
  EXPECT_EQ(ui_.events().size(), 6u);
  for (const platform::UiEvent& e : ui_.events()) EXPECT_EQ(e.kind, platform::UiEvent::progress);
  platform::GlobalFree(result);
  platform::GlobalFree(dib);
}

TEST_F(SynthesizeImageTest, SearchesThatCannotSucceedAreRefusedBeforeAnyWork) {
  const platform::HGLOBAL dib = MakeDib24(BrickImage(33, 33, 6));
  {
    CGraphCutSynthesizer engine;
    engine.m_nSearchMode = 3;  // no such search
    engine.m_strMessage = "earlier text";
    EXPECT_EQ(engine.SynthesizeImage(dib, 2.0f, 2.0f), nullptr);
    EXPECT_EQ(engine.lastReason(), "search mode 3 is not one the engine has");
    EXPECT_EQ(engine.m_strMessage, "earlier text");
    EXPECT_EQ(engine.m_squareSums.width(), 0);
    EXPECT_TRUE(engine.m_usedOffsets.empty());
  }
  {
    // 33x33 holds four offsets to draw from: a 2x2 grid takes them all, a second run
    // has none left and is refused at once.
    CGraphCutSynthesizer engine;
    engine.m_bRandom = 1;
    const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
    ASSERT_NE(result, nullptr);
    platform::GlobalFree(result);
    ui_.clear();
    EXPECT_EQ(engine.SynthesizeImage(dib, 2.0f, 2.0f), nullptr);
    EXPECT_NE(engine.lastReason().find("needs 4 distinct 32x32 source offsets, and the 33x33 "
                                       "sample has 0 unused"),
              std::string::npos)
        << engine.lastReason();
    EXPECT_TRUE(ui_.events().empty()) << "refused before the plan was even shown";
    EXPECT_EQ(engine.m_usedOffsets.size(), 4u);
  }
  EXPECT_EQ(platform::GlobalLockCount(dib), 0);
  platform::GlobalFree(dib);
}

TEST_F(SynthesizeImageTest, RunsBeyondTheMemoryOrTimeBudgetAreRefusedWithTheEstimate) {
  const platform::HGLOBAL dib = MakeDib24(BrickImage(64, 64, 2));
  struct Case {
    const char* name;
    std::uint64_t memory;
    double seconds;
    const char* reason;  // empty: the run goes ahead
  } const cases[] = {
      {"fits", 64u << 20, 60, ""},
      {"memory", 1u << 20, 60, "the run needs about "},
      {"time", 64u << 20, 1e-6, "the run would take "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_.clear();
    CGraphCutSynthesizer engine;
    engine.m_nMemoryBudget = c.memory;
    engine.m_fTimeBudgetSeconds = c.seconds;
    const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
    EXPECT_EQ(result == nullptr, *c.reason != 0);
    EXPECT_EQ(engine.lastReason().rfind(c.reason, 0), 0u) << engine.lastReason();
    ASSERT_FALSE(ui_.events().empty());
    EXPECT_EQ(ui_.events()[0].text.rfind("Growing the 64x64 sample into 128x128 from 25 patches: "
                                         "needs about ",
                                         0),
              0u)
        << ui_.events()[0].text;
    EXPECT_EQ(engine.m_usedOffsets.empty(), *c.reason != 0);
    platform::GlobalFree(result);
  }
  platform::GlobalFree(dib);
}

TEST(SynthesisPlanTest, EstimatesFollowTheSizesAndImpossibleScalesAreRefused) {
  std::string reason;
  const auto plan = PlanSynthesis(64, 64, 2.0f, 2.0f, false, kFftSearch, true, reason);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->width, 128);
  EXPECT_EQ(plan->patches, 25u);
  const auto bigger = PlanSynthesis(512, 512, 2.0f, 2.0f, false, kFftSearch, true, reason);
  ASSERT_TRUE(bigger);
  EXPECT_GT(bigger->memoryBytes, 4 * plan->memoryBytes);
  EXPECT_GT(bigger->seconds, 64 * plan->seconds);
  const auto random = PlanSynthesis(512, 512, 2.0f, 2.0f, true, kFftSearch, true, reason);
  EXPECT_LT(random->seconds, bigger->seconds / 50);
  for (auto [sx, sy] : {std::pair{0.0f, 2.0f}, std::pair{-1.0f, 2.0f}, std::pair{INFINITY, 2.0f},
                        std::pair{2.0f, NAN}, std::pair{1e6f, 1e6f}}) {
    SCOPED_TRACE(testing::Message() << sx << " " << sy);
    reason.clear();
    EXPECT_FALSE(PlanSynthesis(32, 32, sx, sy, true, kFftSearch, false, reason));
    EXPECT_FALSE(reason.empty());
  }
}

TEST_F(SynthesizeImageTest, PostProcessChangesOnlySomePixelsOfTheSameGrid) {
  const platform::HGLOBAL dib = MakeDib24(BrickImage(64, 64, 12));
  PixelRows outputs[2];
  std::vector<CPoint> offsets[2];
  for (int post = 0; post < 2; ++post) {
    CGraphCutSynthesizer engine;
    engine.m_bPostProcess = static_cast<BYTE>(post);
    const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
    ASSERT_NE(result, nullptr);
    outputs[post] = RowsOf(result);
    offsets[post] = engine.m_usedOffsets;
    platform::GlobalFree(result);
  }
  ASSERT_EQ(offsets[0], offsets[1]);  // the same clock gives the same patches
  int changed = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x)
      changed += std::memcmp(outputs[0].pixel(x, y), outputs[1].pixel(x, y), 3) != 0;
  EXPECT_GT(changed, 0);
  EXPECT_LT(changed, 128 * 128 / 2);
  platform::GlobalFree(dib);
}

TEST(GraphCutSynthesizer, DestructorFreesWhatTheEngineHolds) {
  const long before = platform::GlobalLiveBlockCount();
  const platform::HGLOBAL source = MakeDib24(BrickImage(40, 40, 1));
  {
    CGraphCutSynthesizer engine;
    engine.m_hSourceImage = source;
    engine.m_hResultImage = platform::GlobalAlloc(platform::GHND, 100);
    engine.m_hSecondImage = platform::GlobalAlloc(platform::GHND, 100);
    engine.m_topImages = {platform::GlobalAlloc(platform::GHND, 10),
                          platform::GlobalAlloc(platform::GHND, 10)};
  }
  EXPECT_EQ(platform::GlobalLiveBlockCount(), before + 1);  // the source is the holder's
  platform::GlobalFree(source);
}

// A 40x35 DIB of 16 or 32 bits whose every pixel is `pixel`, with bit-field masks after
// the header when `masks` is given.
platform::HGLOBAL MaskedDib(int bits, std::uint32_t pixel,
                            const std::vector<std::uint32_t>& masks) {
  const std::uint64_t stride = platform::dibStride(40, bits);
  const std::size_t maskBytes = 4 * masks.size();
  const platform::HGLOBAL dib = platform::GlobalAlloc(platform::GHND, 40 + maskBytes + stride * 35);
  platform::GlobalLockGuard lock(dib);
  auto* out = lock.as<std::uint8_t>();
  platform::BitmapInfoHeader h{};
  h.size = 40;
  h.width = 40;
  h.height = 35;
  h.planes = 1;
  h.bitCount = static_cast<std::uint16_t>(bits);
  h.compression = masks.empty() ? platform::BI_RGB : platform::BI_BITFIELDS;
  platform::storePacked(out, h);
  if (!masks.empty()) std::memcpy(out + 40, masks.data(), maskBytes);
  for (int y = 0; y < 35; ++y)
    for (int x = 0; x < 40; ++x)
      std::memcpy(out + 40 + maskBytes + stride * y + x * (bits / 8), &pixel, bits / 8);
  return dib;
}

TEST(DibToRows, SixteenAndThirtyTwoBitRowsGoThroughTheirMasks) {
  struct Case {
    const char* name;
    int bits;
    std::uint32_t pixel;
    std::vector<std::uint32_t> masks;  // red, green, blue; none: plain rows
    std::uint8_t blue, green, red;
  } const cases[] = {
      {"16-bit plain 5-5-5", 16, (31u << 10) | (16u << 5) | 1u, {}, 8, 132, 255},
      {"16-bit 5-6-5", 16, (0u << 11) | (63u << 5) | 31u, {0xF800, 0x07E0, 0x001F}, 255, 255, 0},
      {"16-bit 4-4-4", 16, 0x0F80, {0x0F00, 0x00F0, 0x000F}, 0, 136, 255},
      {"32-bit plain", 32, 0x00112233, {}, 0x33, 0x22, 0x11},
      {"32-bit red and blue swapped",
       32,
       0x00112233,
       {0x0000FF, 0x00FF00, 0xFF0000},
       0x11,
       0x22,
       0x33},
      {"32-bit 10-10-10",
       32,
       (1023u << 20) | (0u << 10) | 512u,
       {0x3FF00000, 0x000FFC00, 0x3FF},
       128,
       0,
       255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::HGLOBAL dib = MaskedDib(c.bits, c.pixel, c.masks);
    const PixelRows rows = CGraphCutSynthesizer::DibToRows(dib);
    ASSERT_EQ(rows.width(), 40);
    ASSERT_EQ(rows.height(), 35);
    for (int y : {0, 34}) {
      EXPECT_EQ(rows.pixel(39, y)[0], c.blue);
      EXPECT_EQ(rows.pixel(39, y)[1], c.green);
      EXPECT_EQ(rows.pixel(39, y)[2], c.red);
    }
    platform::GlobalFree(dib);
  }
}

TEST_F(SynthesizeImageTest, ThirtyTwoBitSamplesGrowInTheirOwnColours) {
  CGraphCutSynthesizer engine;
  engine.m_bRandom = 1;
  const platform::HGLOBAL dib = MaskedDib(32, 0x00406080, {0xFF0000, 0x00FF00, 0x0000FF});
  const platform::HGLOBAL result = engine.SynthesizeImage(dib, 2.0f, 2.0f);
  ASSERT_NE(result, nullptr) << engine.lastReason();
  const PixelRows rows = RowsOf(result);
  EXPECT_EQ(rows.pixel(10, 10)[0], 0x80);
  EXPECT_EQ(rows.pixel(10, 10)[2], 0x40);
  platform::GlobalFree(result);
  platform::GlobalFree(dib);
}

TEST(RowsToDib, WritesAPlainTwentyFourBitBitmapWithTheSamplesHeader) {
  const platform::HGLOBAL source =
      MakeDib(40, 40, 8, std::vector<std::uint8_t>(256 * 3, 1), [](int, int, std::uint8_t*) {});
  {
    platform::GlobalLockGuard lock(source);
    auto header = platform::loadPacked<platform::BitmapInfoHeader>(lock.data());
    header.xPelsPerMeter = 2835;
    header.clrImportant = 256;
    platform::storePacked(lock.data(), header);
  }
  PixelRows rows = BrickImage(50, 3, 2);  // 150 bytes a row, stored in 152
  const platform::HGLOBAL dib = CGraphCutSynthesizer::RowsToDib(source, rows, 50, 3);
  ASSERT_NE(dib, nullptr);
  const platform::BitmapInfoHeader h = HeaderOf(dib);
  EXPECT_EQ(h.width, 50);
  EXPECT_EQ(h.height, 3);
  EXPECT_EQ(h.bitCount, 24);
  EXPECT_EQ(h.clrUsed, 0u);
  EXPECT_EQ(h.clrImportant, 0u);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(h.xPelsPerMeter, 2835);
  EXPECT_EQ(platform::GlobalSize(dib), 40u + 152 * 3);
  EXPECT_EQ(RowsOf(dib), rows);
  EXPECT_EQ(CGraphCutSynthesizer::DibToRows(dib), rows);
  platform::GlobalFree(dib);
  platform::GlobalFree(source);
}

}  // namespace
