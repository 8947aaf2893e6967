// Container recognition, the program-stream demultiplexer on hand-built packs and
// packets of both system-stream layers, and the scans of the video elementary stream:
// the first sequence header's size and the last picture's rows.
#include "quiltbench/video/mpeg_demux.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using namespace quiltbench::video;
using Bytes = std::vector<std::uint8_t>;

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes repeated(std::uint8_t value, std::size_t n) { return Bytes(n, value); }

Bytes firstBytes(Bytes bytes, std::size_t n) {
  bytes.resize(n);
  return bytes;
}

Bytes startCode(std::uint8_t code) { return {0x00, 0x00, 0x01, code}; }

Bytes withLength(std::uint8_t code, const Bytes& body) {
  return join(
      {startCode(code),
       {static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size() & 0xFF)},
       body});
}

Bytes mpeg2Pack(int stuffing = 0) {
  return join({startCode(0xBA),
               {0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3,
                static_cast<std::uint8_t>(0xF8 | stuffing)},
               repeated(0xFF, stuffing)});
}

Bytes mpeg1Pack() {
  return join({startCode(0xBA), {0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91}});
}

Bytes systemHeader() { return withLength(0xBB, {0x80, 0x1B, 0x91, 0x04, 0xE1, 0xFF}); }

// The MPEG-2 PES header with a presentation time stamp.
Bytes mpeg2Pes(std::uint8_t id, const Bytes& payload) {
  return withLength(id, join({{0x81, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01}, payload}));
}

// The MPEG-1 packet header: stuffing, the STD buffer size and a time stamp.
Bytes mpeg1Pes(std::uint8_t id, const Bytes& payload) {
  return withLength(id, join({{0xFF, 0xFF, 0x60, 0xE8, 0x21, 0x00, 0x01, 0x00, 0x01}, payload}));
}

// The MPEG-1 packet header without time stamps.
Bytes mpeg1PesPlain(std::uint8_t id, const Bytes& payload) {
  return withLength(id, join({{0x0F}, payload}));
}

// Video bytes that hold a start code of their own, as real payloads do.
const Bytes kVideoA = {0x00, 0x00, 0x01, 0xB3, 0x0C, 0x80, 0x96};
const Bytes kVideoB = {0x00, 0x00, 0x01, 0x00, 0x11, 0x22};

TEST(ContainerFormat, FirstBytesNameTheFormat) {
  Bytes transport(188 * 3, 0);
  transport[0] = transport[188] = transport[376] = 0x47;
  Bytes timestamped(192 * 3, 0);
  timestamped[4] = timestamped[196] = timestamped[388] = 0x47;
  struct Case {
    const char* name;
    Bytes bytes;
    ContainerFormat format;
  } cases[] = {
      {"sequence header", {0x00, 0x00, 0x01, 0xB3, 0x04}, ContainerFormat::elementaryStream},
      {"zeros before a group", {0, 0, 0, 0, 0x01, 0xB8}, ContainerFormat::elementaryStream},
      {"MPEG-2 pack", mpeg2Pack(), ContainerFormat::programStream},
      {"MPEG-1 pack", mpeg1Pack(), ContainerFormat::programStream},
      {"transport stream", transport, ContainerFormat::transportStream},
      {"one short transport packet", {0x47, 0x40, 0x00, 0x10}, ContainerFormat::transportStream},
      {"timestamped transport stream", timestamped, ContainerFormat::transportStream},
      {"MP4", {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'}, ContainerFormat::isoMedia},
      {"QuickTime", {0, 0, 0, 0x08, 'w', 'i', 'd', 'e'}, ContainerFormat::isoMedia},
      {"AVI", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, ContainerFormat::riff},
      {"Matroska", {0x1A, 0x45, 0xDF, 0xA3, 0x9F}, ContainerFormat::matroska},
      {"Ogg", {'O', 'g', 'g', 'S', 0}, ContainerFormat::ogg},
      {"audio packet first", withLength(0xC0, {1, 2}), ContainerFormat::unknown},
      {"one zero byte before the prefix", {0x00, 0x01, 0xB3, 0x00}, ContainerFormat::unknown},
      {"text", {'h', 'e', 'l', 'l', 'o'}, ContainerFormat::unknown},
      {"empty", {}, ContainerFormat::unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(containerFormat(c.bytes), c.format);
  }
  EXPECT_STREQ(containerName(ContainerFormat::transportStream), "an MPEG transport stream");
}

TEST(ProgramStreamDemux, TakesThePayloadOfTheFirstVideoStreamOnly) {
  Bytes cut = join({mpeg2Pack(), mpeg2Pes(0xE0, kVideoA), mpeg2Pack(), mpeg2Pes(0xE0, kVideoB)});
  cut.resize(cut.size() - 2);
  struct Case {
    const char* name;
    Bytes stream;
    Bytes video;
  } cases[] = {
      {"MPEG-2 packs with a system header, audio and padding",
       join({mpeg2Pack(), systemHeader(), mpeg2Pes(0xE0, kVideoA), mpeg2Pes(0xC0, {9, 9, 9}),
             withLength(0xBE, repeated(0xFF, 20)), mpeg2Pack(3), mpeg2Pes(0xE0, kVideoB),
             startCode(0xB9)}),
       join({kVideoA, kVideoB})},
      {"MPEG-1 packets with and without time stamps",
       join({mpeg1Pack(), systemHeader(), mpeg1Pes(0xE0, kVideoA), mpeg1Pack(),
             mpeg1PesPlain(0xE0, kVideoB)}),
       join({kVideoA, kVideoB})},
      {"a video stream after the first is left out",
       join({mpeg2Pack(), mpeg2Pes(0xE1, kVideoA), mpeg2Pes(0xE0, kVideoB),
             mpeg2Pes(0xE1, kVideoA)}),
       join({kVideoA, kVideoA})},
      {"damaged bytes up to the next pack are skipped",
       join({mpeg2Pack(),
             mpeg2Pes(0xE0, kVideoA),
             {0x12, 0x00, 0x00, 0x01, 0x00, 0x77},
             mpeg2Pack(),
             mpeg2Pes(0xE0, kVideoB)}),
       join({kVideoA, kVideoB})},
      {"a packet cut off by the end gives what it holds", cut,
       join({kVideoA, Bytes(kVideoB.begin(), kVideoB.end() - 2)})},
      {"a header longer than its packet is skipped",
       join({mpeg2Pack(), withLength(0xE0, {0x81, 0x80, 0x40, 1, 2}), mpeg2Pes(0xE0, kVideoB)}),
       kVideoB},
      {"an MPEG-1 header without its time-stamp marker is skipped",
       join({mpeg1Pack(), withLength(0xE0, {0xFF, 0x55, 1, 2}), mpeg1Pes(0xE0, kVideoB)}), kVideoB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DemuxResult result = demuxProgramStream(c.stream);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.video, c.video);
  }
}

TEST(ProgramStreamDemux, AStreamWithoutVideoIsAnError) {
  const Bytes streams[] = {
      join({mpeg2Pack(), systemHeader(), mpeg2Pes(0xC0, kVideoA)}),
      mpeg2Pack(),
      firstBytes(mpeg2Pack(), 9),
      {0x00, 0x00, 0x01},
      {},
  };
  for (const Bytes& stream : streams) {
    EXPECT_EQ(demuxProgramStream(stream).error, "the program stream holds no video packet");
  }
}

// A sequence header for `width` x `height` (the low 12 bits), without matrices.
Bytes sequenceHeader(int width, int height) {
  return join({startCode(0xB3),
               {static_cast<std::uint8_t>(width >> 4),
                static_cast<std::uint8_t>(((width & 0xF) << 4) | ((height >> 8) & 0xF)),
                static_cast<std::uint8_t>(height & 0xFF), 0x13, 0xFF, 0xFF, 0xE0, 0x18}});
}

// A sequence extension (Main profile, Main level, 4:2:0) with the size extension bits.
Bytes sequenceExtension(int horizontalExtension, int verticalExtension) {
  return join(
      {startCode(0xB5),
       {0x14, static_cast<std::uint8_t>(0x8A | (horizontalExtension >> 1)),
        static_cast<std::uint8_t>(((horizontalExtension & 1) << 7) | (verticalExtension << 5)),
        0x01, 0x00, 0x00}});
}

TEST(SequencePictureSize, ComesFromTheFirstUsableSequenceHeader) {
  struct Case {
    const char* name;
    Bytes stream;
    std::optional<PictureSize> size;
  } cases[] = {
      {"MPEG-1", sequenceHeader(202, 150), PictureSize{202, 150}},
      {"MPEG-2 with the size extension",
       join({sequenceHeader(0x010, 0x020), sequenceExtension(1, 2)}), PictureSize{0x1010, 0x2020}},
      {"a later extension is not the header's",
       join({sequenceHeader(64, 48), startCode(0xB8), {0, 0, 0, 0}, sequenceExtension(3, 3)}),
       PictureSize{64, 48}},
      {"a header of size 0 is passed over", join({sequenceHeader(0, 48), sequenceHeader(720, 576)}),
       PictureSize{720, 576}},
      {"a header cut short", firstBytes(sequenceHeader(64, 48), 7), std::nullopt},
      {"no header", join({startCode(0xB8), {1, 2, 3, 4}}), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<PictureSize> size = firstSequencePictureSize(c.stream);
    ASSERT_EQ(size.has_value(), c.size.has_value());
    if (size) {
      EXPECT_EQ(size->width, c.size->width);
      EXPECT_EQ(size->height, c.size->height);
    }
  }
}

Bytes picture() { return join({startCode(0x00), {0x00, 0x0F, 0xFF, 0xF8}}); }

Bytes slices(std::initializer_list<std::uint8_t> rows) {
  Bytes all;
  for (std::uint8_t row : rows) all = join({all, startCode(row), {0x12, 0x34, 0x56}});
  return all;
}

// A picture coding extension for a top field picture.
Bytes topFieldExtension() { return join({startCode(0xB5), {0x81, 0x11, 0x11, 0x00, 0x00}}); }

TEST(LastPictureRows, APictureCutShortMissesItsLastRows) {
  struct Case {
    const char* name;
    Bytes stream;
    unsigned codedHeight;
    bool whole;
  } cases[] = {
      {"every row", join({picture(), slices({1, 2, 3})}), 48, true},
      {"two slices on a row", join({picture(), slices({1, 1, 2, 3})}), 48, true},
      {"the last row missing", join({picture(), slices({1, 2})}), 48, false},
      {"a row in between missing", join({picture(), slices({1, 3})}), 48, false},
      {"only the last picture counts", join({picture(), slices({1, 2, 3}), picture(), slices({1})}),
       48, false},
      {"a field picture has half the rows",
       join({picture(), topFieldExtension(), slices({1, 2, 3})}), 96, true},
      {"a frame picture of the same height", join({picture(), slices({1, 2, 3})}), 96, false},
      {"no picture", slices({1, 2, 3}), 48, false},
      {"more rows than slice codes tell", join({picture(), slices({1})}), 16 * 176, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lastPictureCoversEveryRow(c.stream, c.codedHeight), c.whole);
  }
}

}  // namespace
