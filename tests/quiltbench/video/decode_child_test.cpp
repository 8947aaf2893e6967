// The parent's side of the decoding child: frames of the agreed size come back whole, and
// every way a child can die, stall, overrun a limit or break the protocol ends in an
// error that says why, with the child gone.
#include "quiltbench/video/decode_child.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace quiltbench::video;

constexpr int kWidth = 4, kHeight = 2;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

DecodeLimits smallLimits() {
  DecodeLimits limits;
  limits.width = kWidth;
  limits.height = kHeight;
  limits.maxFrames = 3;
  limits.childExtraAddressSpace = std::uint64_t{64} << 20;
  limits.cpuSeconds = 1;
  limits.silenceSeconds = 1;
  return limits;
}

std::vector<std::uint8_t> frameOf(std::uint8_t value) {
  return std::vector<std::uint8_t>(kFrameBytes, value);
}

void sendFrames(FrameChannel& out, int count) {
  for (int k = 0; k < count; ++k)
    out.sendFrame(frameOf(static_cast<std::uint8_t>(k + 1)).data(), kFrameBytes);
}

// A child that has broken the protocol would wait forever; the parent must not.
[[noreturn]] void waitForever() {
  for (;;) pause();
}

TEST(DecodeChild, FramesOfTheAgreedSizeComeBackInOrder) {
  const VideoFrames video = framesFromChild(
      [](FrameChannel& out) {
        out.sendSize(kWidth, kHeight);
        sendFrames(out, 3);
        out.sendEnd(3);
      },
      smallLimits());
  ASSERT_EQ(video.count(), 3);
  EXPECT_EQ(video.width, kWidth);
  EXPECT_EQ(video.height, kHeight);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(video.frames[k], frameOf(static_cast<std::uint8_t>(k + 1)));
}

TEST(DecodeChild, DeathLimitsAndBrokenMessagesEndInAnErrorWithTheReason) {
  struct Case {
    const char* name;
    std::function<void(FrameChannel&)> child;
    const char* reason;  // a regular expression
    int silenceSeconds = 1;
  };
  const Case cases[] = {
      {"crash", [](FrameChannel&) { raise(SIGSEGV); }, "signal 11|exit status"},
      {"exit status", [](FrameChannel&) { _exit(3); }, "exit status 3"},
      {"clean exit without an end",
       [](FrameChannel& out) {
         out.sendSize(kWidth, kHeight);
         out.sendBytes("F", 1);
         out.sendBytes(frameOf(0).data(), kFrameBytes / 2);
       },
       "stopped without finishing"},
      {"another size",
       [](FrameChannel& out) {
         out.sendSize(kWidth + 1, kHeight);
         waitForever();
       },
       "pictures are 5x2, the stream's sequence header says 4x2"},
      {"frame before the size",
       [](FrameChannel& out) {
         sendFrames(out, 1);
         waitForever();
       },
       "before its picture size"},
      {"size twice",
       [](FrameChannel& out) {
         out.sendSize(kWidth, kHeight);
         out.sendSize(kWidth, kHeight);
         waitForever();
       },
       "size twice"},
      {"garbage",
       [](FrameChannel& out) {
         out.sendBytes("\xFFgarbage", 8);
         waitForever();
       },
       "unknown type 255"},
      {"too many frames",
       [](FrameChannel& out) {
         out.sendSize(kWidth, kHeight);
         sendFrames(out, 4);
         waitForever();
       },
       "more than 3 frames"},
      {"miscounted end",
       [](FrameChannel& out) {
         out.sendSize(kWidth, kHeight);
         sendFrames(out, 1);
         out.sendEnd(2);
         waitForever();
       },
       "counted 2 frames and sent 1"},
      {"bytes after the end",
       [](FrameChannel& out) {
         out.sendSize(kWidth, kHeight);
         out.sendEnd(0);
         out.sendBytes("E", 1);
         waitForever();
       },
       "bytes after its end"},
      {"reason of its own, unprintables masked",
       [](FrameChannel&) { throw std::runtime_error("no\nluck\x01"); }, "^no\\?luck\\?$"},
      {"overlong reason",
       [](FrameChannel& out) {
         out.sendBytes("X\xFF\xFF\x00\x00", 5);
         waitForever();
       },
       "overlong reason"},
      {"silence", [](FrameChannel&) { waitForever(); }, "sent nothing for 1 s"},
      {"processor time",
       [](FrameChannel&) {
         volatile std::uint64_t n = 0;
         for (;;) {
           n = n + 1;
         }
       },
       "more than 1 s of processor time|signal 9", 4},
      {"memory",
       [](FrameChannel&) {
         std::vector<std::uint8_t> big(std::size_t{1} << 30, 1);
         _exit(big[12345]);
       },
       "bad_alloc|exit status 1$|signal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto started = std::chrono::steady_clock::now();
    DecodeLimits limits = smallLimits();
    limits.silenceSeconds = c.silenceSeconds;
    try {
      framesFromChild(c.child, limits);
      ADD_FAILURE() << "no error";
    } catch (const DecodeChildError& e) {
      EXPECT_THAT(e.what(), testing::ContainsRegex(c.reason));
    }
    // The parent gives up at once on a broken message and within its limits otherwise.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
}

TEST(DecodeChild, SizesOutsideTheDecodableRangeAreRefusedWithoutAChild) {
  for (const auto& [width, height] : {std::pair{0, 16}, {16, -1}, {16384, 16}, {16, 20000}}) {
    DecodeLimits limits = smallLimits();
    limits.width = width;
    limits.height = height;
    EXPECT_THROW(framesFromChild([](FrameChannel&) { _exit(0); }, limits), DecodeChildError)
        << width << "x" << height;
  }
}

}  // namespace
