// Container recognition and a small program-stream demultiplexer (ISO/IEC 11172-1 system
// streams and ISO/IEC 13818-1 program streams). Every read is checked against the end of
// the input and every step moves forward, so a hostile file ends in an error, not a loop.
#include "quiltbench/video/mpeg_demux.h"

#include <algorithm>
#include <cstring>

namespace quiltbench::video {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t kPackStartCode = 0xBA;
constexpr std::uint8_t kSystemHeaderStartCode = 0xBB;
constexpr std::uint8_t kProgramEndCode = 0xB9;
constexpr std::uint8_t kFirstVideoStreamId = 0xE0;
constexpr std::uint8_t kLastVideoStreamId = 0xEF;
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;
constexpr std::uint8_t kExtensionStartCode = 0xB5;
constexpr std::uint8_t kSequenceExtensionId = 1;
constexpr std::uint8_t kPictureStartCode = 0x00;
constexpr std::uint8_t kPictureCodingExtensionId = 8;
constexpr std::uint8_t kLastSliceStartCode = 0xAF;
constexpr int kFramePicture = 3;
constexpr std::size_t kTransportPacketSize = 188;
// Blu-ray transport streams put a 4-byte time stamp before each packet.
constexpr std::size_t kTimestampedPacketSize = 192;

bool startCodeAt(Bytes b, std::size_t at) {
  return at + 4 <= b.size() && b[at] == 0 && b[at + 1] == 0 && b[at + 2] == 1;
}

// Offset of the next start code prefix at or after `from`, or b.size().
std::size_t nextStartCode(Bytes b, std::size_t from) {
  for (std::size_t at = from; at + 4 <= b.size(); ++at) {
    if (startCodeAt(b, at)) return at;
  }
  return b.size();
}

std::size_t nextPack(Bytes b, std::size_t from) {
  for (std::size_t at = nextStartCode(b, from); at < b.size(); at = nextStartCode(b, at + 1)) {
    if (b[at + 3] == kPackStartCode) return at;
  }
  return b.size();
}

bool bytesAt(Bytes b, std::size_t at, const char* text) {
  const std::size_t n = std::strlen(text);
  return at + n <= b.size() && std::memcmp(b.data() + at, text, n) == 0;
}

// A sync byte at three packet starts in a row (or at every start a short file has).
bool looksLikeTransportStream(Bytes b, std::size_t first, std::size_t packetSize) {
  int seen = 0;
  for (std::size_t at = first; at < b.size() && seen < 3; at += packetSize, ++seen) {
    if (b[at] != 0x47) return false;
  }
  return seen >= 2 || (seen == 1 && b.size() - first <= packetSize);
}

// Length of a pack header at `at`, 0 when it is neither the MPEG-1 nor the MPEG-2 form
// or is cut off.
std::size_t packHeaderLength(Bytes b, std::size_t at) {
  if (at + 5 > b.size()) return 0;
  const std::uint8_t marker = b[at + 4];
  if ((marker >> 6) == 1) {  // '01': MPEG-2, followed by up to 7 stuffing bytes
    if (at + 14 > b.size()) return 0;
    return 14 + (b[at + 13] & 7);
  }
  if ((marker >> 4) == 2) return 12;  // '0010': MPEG-1
  return 0;
}

// Where the payload of a video PES packet starts, for the packet's bytes after its length
// field: [from, end). None when the header runs past the packet.
std::optional<std::size_t> pesPayloadStart(Bytes b, std::size_t from, std::size_t end) {
  std::size_t at = from;
  if (at < end && (b[at] >> 6) == 2) {  // '10': the MPEG-2 PES header
    if (at + 3 > end) return std::nullopt;
    at += 3 + b[at + 2];
    return at <= end ? std::optional(at) : std::nullopt;
  }
  // The MPEG-1 packet header: at most 16 stuffing bytes, an optional STD buffer size,
  // then the time stamps or a single 0x0F.
  for (int stuffing = 0; at < end && b[at] == 0xFF && stuffing < 16; ++stuffing) ++at;
  if (at < end && (b[at] >> 6) == 1) at += 2;
  if (at >= end) return std::nullopt;
  if ((b[at] >> 4) == 2) {
    at += 5;
  } else if ((b[at] >> 4) == 3) {
    at += 10;
  } else if (b[at] == 0x0F) {
    at += 1;
  } else {
    return std::nullopt;
  }
  return at <= end ? std::optional(at) : std::nullopt;
}

}  // namespace

ContainerFormat containerFormat(Bytes b) {
  if (bytesAt(b, 4, "ftyp") || bytesAt(b, 4, "moov") || bytesAt(b, 4, "mdat") ||
      bytesAt(b, 4, "wide") || bytesAt(b, 4, "free") || bytesAt(b, 4, "skip")) {
    return ContainerFormat::isoMedia;
  }
  if (bytesAt(b, 0, "RIFF")) return ContainerFormat::riff;
  if (bytesAt(b, 0, "\x1A\x45\xDF\xA3")) return ContainerFormat::matroska;
  if (bytesAt(b, 0, "OggS")) return ContainerFormat::ogg;
  if (looksLikeTransportStream(b, 0, kTransportPacketSize) ||
      looksLikeTransportStream(b, 4, kTimestampedPacketSize)) {
    return ContainerFormat::transportStream;
  }
  // Zero bytes may stand before the first start code of either kind of stream.
  std::size_t at = 0;
  while (at < b.size() && b[at] == 0) ++at;
  if (at < 2 || at + 2 > b.size() || b[at] != 1) return ContainerFormat::unknown;
  const std::uint8_t code = b[at + 1];
  if (code == kPackStartCode) return ContainerFormat::programStream;
  // Picture, slice, user data, sequence, extension, sequence end and group start codes.
  if (code <= 0xB3 || code == kExtensionStartCode || code == 0xB7 || code == 0xB8) {
    return ContainerFormat::elementaryStream;
  }
  return ContainerFormat::unknown;
}

const char* containerName(ContainerFormat format) {
  switch (format) {
    case ContainerFormat::elementaryStream:
      return "an MPEG video elementary stream";
    case ContainerFormat::programStream:
      return "an MPEG program stream";
    case ContainerFormat::transportStream:
      return "an MPEG transport stream";
    case ContainerFormat::isoMedia:
      return "an MPEG-4 / QuickTime file";
    case ContainerFormat::riff:
      return "a RIFF (AVI) file";
    case ContainerFormat::matroska:
      return "a Matroska / WebM file";
    case ContainerFormat::ogg:
      return "an Ogg file";
    case ContainerFormat::unknown:
      break;
  }
  return "not an MPEG video or program stream";
}

DemuxResult demuxProgramStream(Bytes b) {
  DemuxResult result;
  int videoId = -1;
  std::size_t at = nextStartCode(b, 0);
  while (at < b.size()) {
    if (!startCodeAt(b, at)) {
      at = nextPack(b, at);
      continue;
    }
    const std::uint8_t code = b[at + 3];
    if (code == kPackStartCode) {
      const std::size_t length = packHeaderLength(b, at);
      at = length != 0 ? at + length : nextPack(b, at + 1);
      continue;
    }
    if (code == kProgramEndCode) {
      at += 4;
      continue;
    }
    if (code < kSystemHeaderStartCode || at + 6 > b.size()) {
      // Not a system start code: the bytes between packs are damaged.
      at = nextPack(b, at + 1);
      continue;
    }
    const std::size_t packetEnd = std::min(b.size(), at + 6 + ((b[at + 4] << 8) | b[at + 5]));
    const bool video = code >= kFirstVideoStreamId && code <= kLastVideoStreamId;
    if (video && (videoId < 0 || code == videoId)) {
      if (const auto payload = pesPayloadStart(b, at + 6, packetEnd)) {
        videoId = code;
        result.video.insert(result.video.end(), b.begin() + *payload, b.begin() + packetEnd);
      }
    }
    at = packetEnd;
  }
  if (videoId < 0) result.error = "the program stream holds no video packet";
  return result;
}

std::optional<PictureSize> firstSequencePictureSize(Bytes b) {
  for (std::size_t at = nextStartCode(b, 0); at < b.size(); at = nextStartCode(b, at + 1)) {
    if (b[at + 3] != kSequenceHeaderCode || at + 8 > b.size()) continue;
    PictureSize size{(b[at + 4] << 4) | (b[at + 5] >> 4), ((b[at + 5] & 0x0F) << 8) | b[at + 6]};
    if (size.width == 0 || size.height == 0) continue;
    // Quantiser matrix entries are never zero, so the next start code is the header's end.
    const std::size_t next = nextStartCode(b, at + 12);
    if (next + 7 <= b.size() && b[next + 3] == kExtensionStartCode &&
        (b[next + 4] >> 4) == kSequenceExtensionId) {
      const int horizontalExtension = ((b[next + 5] & 1) << 1) | (b[next + 6] >> 7);
      const int verticalExtension = (b[next + 6] >> 5) & 3;
      size.width |= horizontalExtension << 12;
      size.height |= verticalExtension << 12;
    }
    return size;
  }
  return std::nullopt;
}

bool lastPictureCoversEveryRow(Bytes b, unsigned codedHeight) {
  std::size_t lastPicture = b.size();
  for (std::size_t at = nextStartCode(b, 0); at < b.size(); at = nextStartCode(b, at + 1)) {
    if (b[at + 3] == kPictureStartCode) lastPicture = at;
  }
  if (lastPicture == b.size()) return false;
  int structure = kFramePicture;
  std::vector<bool> rowStarted(kLastSliceStartCode + 1, false);
  for (std::size_t at = nextStartCode(b, lastPicture + 4); at < b.size();
       at = nextStartCode(b, at + 1)) {
    const std::uint8_t code = b[at + 3];
    if (code == kExtensionStartCode && at + 7 <= b.size() &&
        (b[at + 4] >> 4) == kPictureCodingExtensionId) {
      structure = b[at + 6] & 3;
    } else if (code >= 1 && code <= kLastSliceStartCode) {
      rowStarted[code] = true;
    }
  }
  const unsigned rows = codedHeight / (structure == kFramePicture ? 16 : 32);
  if (rows > kLastSliceStartCode) return true;
  for (unsigned row = 1; row <= rows; ++row) {
    if (!rowStarted[row]) return false;
  }
  return rows > 0;
}

}  // namespace quiltbench::video
