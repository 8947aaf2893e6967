// Checks of coded MPEG-2 video streams that do not trust the encoder: a video
// buffering verifier that replays a stream's bits against its vbv_delay fields,
// and decoding by two independent decoders (libmpeg2 in-process, the ffmpeg
// program) for a macroblock-by-macroblock comparison with a reconstruction.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <mpeg2dec/mpeg2.h>
}

namespace conformance {

// ---- Stream syntax ------------------------------------------------------------------

// Reads fixed-length fields from a byte string, most significant bit first;
// reads past the end give zero bits.
class FieldReader {
 public:
  FieldReader(const std::vector<std::uint8_t>& bytes, std::size_t byteOffset)
      : bytes_(bytes), bit_(byteOffset * 8) {}
  std::uint32_t read(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++bit_) {
      const std::size_t at = bit_ / 8;
      const int bit = at < bytes_.size() ? (bytes_[at] >> (7 - bit_ % 8)) & 1 : 0;
      value = (value << 1) | static_cast<std::uint32_t>(bit);
    }
    return value;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t bit_;
};

struct CodedPicture {
  std::size_t startCode = 0;  // byte offset of the picture start code's prefix
  std::size_t end = 0;        // byte offset where the picture's data ends (stuffing included)
  int type = 0;
  int vbvDelay = 0;
  int structure = 3;
  int repeatFirstField = 0;
};

struct StreamLayout {
  double bitRate = 0;     // bits per second, from the sequence header and extension
  double bufferBits = 0;  // vbv_buffer_size in bits
  double frameRate = 0;   // from frame_rate_code
  std::vector<CodedPicture> pictures;
  std::size_t totalBytes = 0;
};

inline double frameRateForCode(int code) {
  static constexpr double kRates[] = {0,  24000.0 / 1001, 24, 25, 30000.0 / 1001, 30,
                                      50, 60000.0 / 1001, 60};
  return code >= 1 && code <= 8 ? kRates[code] : 0;
}

// The start codes of `bytes` and the picture-level fields the buffer model needs. A
// picture's data runs to the next picture, sequence header, group or sequence end
// start code; zero bytes stuffed before that start code belong to it.
inline StreamLayout parseStream(const std::vector<std::uint8_t>& bytes) {
  StreamLayout layout;
  layout.totalBytes = bytes.size();
  std::uint32_t rateValue = 0, bufferValue = 0;
  bool inPicture = false;
  for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] != 0 || bytes[i + 1] != 0 || bytes[i + 2] != 1) continue;
    const int code = bytes[i + 3];
    const bool endsPicture = code == 0x00 || code == 0xb3 || code == 0xb8 || code == 0xb7;
    if (endsPicture && inPicture) {
      layout.pictures.back().end = i;
      inPicture = false;
    }
    FieldReader r(bytes, i + 4);
    if (code == 0xb3) {
      r.read(24);
      r.read(4);
      layout.frameRate = frameRateForCode(static_cast<int>(r.read(4)));
      rateValue = r.read(18);
      r.read(1);
      bufferValue = r.read(10);
    } else if (code == 0xb5) {
      const std::uint32_t id = r.read(4);
      if (id == 1) {
        r.read(8 + 1 + 2 + 2 + 2);
        rateValue |= r.read(12) << 18;
        r.read(1);
        bufferValue |= r.read(8) << 10;
      } else if (id == 8 && inPicture) {
        r.read(16 + 2);
        layout.pictures.back().structure = static_cast<int>(r.read(2));
        r.read(6);
        layout.pictures.back().repeatFirstField = static_cast<int>(r.read(1));
      }
    } else if (code == 0x00) {
      CodedPicture p;
      p.startCode = i;
      r.read(10);
      p.type = static_cast<int>(r.read(3));
      p.vbvDelay = static_cast<int>(r.read(16));
      layout.pictures.push_back(p);
      inPicture = true;
    }
    i += 3;
  }
  // The sequence end code leaves with the last picture.
  if (inPicture) layout.pictures.back().end = bytes.size();
  layout.bitRate = 400.0 * rateValue;
  layout.bufferBits = 16384.0 * bufferValue;
  return layout;
}

// ---- Video buffering verifier -----------------------------------------------------

struct BufferReport {
  bool variableDelay = false;  // every vbv_delay 0xFFFF
  bool mixedDelay = false;     // some, not all, 0xFFFF: never allowed
  int overflows = 0;           // pictures before whose removal the buffer held more than its size
  int underflows = 0;          // pictures not wholly arrived at their decoding time
  int irregularIntervals = 0;  // decoding times from vbv_delay not one picture period apart
  double largestFullness = 0;  // bits, just before a removal
  double smallestMargin = 1e300;  // bits arrived beyond a picture's end at its decoding time
};

// Replays the stream into a buffer of the sequence header's size at its bit rate.
// Constant delay (vbv_delay coded): a picture is decoded vbv_delay / 90 kHz after
// the last byte of its start code arrives, and decoding times must follow the
// picture period. Variable delay (0xFFFF): the buffer fills at the rate until full
// and decoding starts when it first is. One 90 kHz tick of rounding is allowed.
inline BufferReport checkBuffer(const StreamLayout& s) {
  BufferReport report;
  const std::size_t n = s.pictures.size();
  if (n == 0 || s.bitRate <= 0 || s.frameRate <= 0) return report;
  int unknown = 0;
  for (const CodedPicture& p : s.pictures) unknown += p.vbvDelay == 0xffff;
  report.variableDelay = unknown == static_cast<int>(n);
  report.mixedDelay = unknown != 0 && !report.variableDelay;
  const double R = s.bitRate;
  const double slack = 2.0 * R / 90000.0;
  const double total = 8.0 * static_cast<double>(s.totalBytes);
  auto period = [&](const CodedPicture& p) {
    const double frame = 1.0 / s.frameRate;
    return p.structure != 3 ? frame / 2 : frame * (p.repeatFirstField ? 1.5 : 1.0);
  };

  std::vector<double> decodeTime(n);
  if (!report.variableDelay) {
    for (std::size_t k = 0; k < n; ++k) {
      const double arrival = 8.0 * static_cast<double>(s.pictures[k].startCode + 4) / R;
      decodeTime[k] = arrival + s.pictures[k].vbvDelay / 90000.0;
      if (k > 0 &&
          std::abs(decodeTime[k] - decodeTime[k - 1] - period(s.pictures[k - 1])) > 1.5 / 90000.0) {
        ++report.irregularIntervals;
      }
    }
  }
  // Variable delay: bits stop entering while the buffer is full, so arrival is
  // simulated picture by picture.
  double arrived = 0, removed = 0, now = 0;
  if (report.variableDelay) {
    now = std::min(s.bufferBits, total) / R;
    arrived = std::min(s.bufferBits, total);
  }
  for (std::size_t k = 0; k < n; ++k) {
    const double end = 8.0 * static_cast<double>(s.pictures[k].end);
    double inBuffer;
    if (report.variableDelay) {
      if (k > 0) {
        now += period(s.pictures[k - 1]);
        arrived =
            std::min({total, arrived + R * period(s.pictures[k - 1]), removed + s.bufferBits});
      }
      inBuffer = arrived - removed;
      report.smallestMargin = std::min(report.smallestMargin, arrived - end);
      if (arrived + slack < end) ++report.underflows;
    } else {
      inBuffer = std::min(R * decodeTime[k], total) - removed;
      report.smallestMargin = std::min(report.smallestMargin, R * decodeTime[k] - end);
      if (R * decodeTime[k] + slack < end) ++report.underflows;
    }
    report.largestFullness = std::max(report.largestFullness, inBuffer);
    if (inBuffer > s.bufferBits + slack) ++report.overflows;
    removed = end;
  }
  return report;
}

// ---- Pictures and decoders ----------------------------------------------------------

// Planes of one frame of the display size.
struct Picture {
  std::vector<std::uint8_t> y, u, v;
};

struct PictureSize {
  int width, height;
  int chromaFormat;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
  int chromaWidth() const { return chromaFormat == 3 ? width : width / 2; }
  int chromaHeight() const { return chromaFormat == 1 ? height / 2 : height; }
};

inline std::vector<std::uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Every frame libmpeg2 decodes, in display order, cropped to the picture size.
inline std::vector<Picture> decodeWithLibmpeg2(const PictureSize& size,
                                               const std::vector<std::uint8_t>& stream) {
  std::vector<Picture> pictures;
  // Its plain C inverse transform: over a long P chain the SIMD one drifts several
  // levels from the encoder's reconstruction, where ffmpeg's stays within two.
  mpeg2_accel(0);
  mpeg2dec_t* decoder = mpeg2_init();
  const mpeg2_info_t* info = mpeg2_info(decoder);
  std::size_t fed = 0;
  for (;;) {
    const mpeg2_state_t state = mpeg2_parse(decoder);
    if (state == STATE_BUFFER) {
      if (fed >= stream.size()) break;
      const std::size_t n = std::min<std::size_t>(4096, stream.size() - fed);
      mpeg2_buffer(decoder, const_cast<std::uint8_t*>(stream.data() + fed),
                   const_cast<std::uint8_t*>(stream.data() + fed + n));
      fed += n;
    } else if (state == STATE_SLICE || state == STATE_END || state == STATE_INVALID_END) {
      if (info->display_fbuf != nullptr) {
        const mpeg2_sequence_t* seq = info->sequence;
        Picture p;
        for (int k = 0; k < 3; ++k) {
          std::vector<std::uint8_t>& plane = k == 0 ? p.y : (k == 1 ? p.u : p.v);
          const int rows = k == 0 ? size.height : size.chromaHeight();
          const int columns = k == 0 ? size.width : size.chromaWidth();
          const std::size_t stride = k == 0 ? seq->width : seq->chroma_width;
          for (int y = 0; y < rows; ++y) {
            const std::uint8_t* row = info->display_fbuf->buf[k] + y * stride;
            plane.insert(plane.end(), row, row + columns);
          }
        }
        pictures.push_back(std::move(p));
      }
      if (state != STATE_SLICE) break;
    }
  }
  mpeg2_close(decoder);
  return pictures;
}

inline std::vector<Picture> splitRawFrames(const PictureSize& size,
                                           const std::vector<std::uint8_t>& all) {
  const std::size_t luma = static_cast<std::size_t>(size.width) * size.height;
  const std::size_t chroma = static_cast<std::size_t>(size.chromaWidth()) * size.chromaHeight();
  std::vector<Picture> pictures;
  for (std::size_t at = 0; at + luma + 2 * chroma <= all.size(); at += luma + 2 * chroma) {
    Picture p;
    p.y.assign(all.begin() + at, all.begin() + at + luma);
    p.u.assign(all.begin() + at + luma, all.begin() + at + luma + chroma);
    p.v.assign(all.begin() + at + luma + chroma, all.begin() + at + luma + 2 * chroma);
    pictures.push_back(std::move(p));
  }
  return pictures;
}

inline const char* pixelFormat(const PictureSize& size) {
  return size.chromaFormat == 1 ? "yuv420p" : (size.chromaFormat == 2 ? "yuv422p" : "yuv444p");
}

// Every frame the ffmpeg program decodes from `streamPath` (one thread), in
// display order; empty when ffmpeg fails.
inline std::vector<Picture> decodeWithFfmpeg(const PictureSize& size, const std::string& streamPath,
                                             const std::string& scratch) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i '" +
                              streamPath + "' -vsync 0 -f rawvideo -pix_fmt " + pixelFormat(size) +
                              " -y '" + scratch + "'";
  if (std::system(command.c_str()) != 0) return {};
  return splitRawFrames(size, readAll(scratch));
}

// How a macroblock of two pictures differs: its largest sample difference and
// how many of its samples differ at all.
struct MacroblockDifference {
  int largest = 0;
  int differing = 0;
  int samples = 0;
};

// The difference inside each macroblock (16 x 16 luma samples and the chroma
// beside them), row by row over the display size; pictures of unequal sizes differ
// everywhere.
inline std::vector<MacroblockDifference> macroblockDifferences(const PictureSize& size,
                                                               const Picture& a, const Picture& b) {
  const int mbWidth = (size.width + 15) / 16, mbHeight = (size.height + 15) / 16;
  std::vector<MacroblockDifference> result(static_cast<std::size_t>(mbWidth) * mbHeight);
  if (a.y.size() != b.y.size() || a.u.size() != b.u.size() || a.v.size() != b.v.size()) {
    for (MacroblockDifference& d : result) d = {256, 1, 1};
    return result;
  }
  const int sx = size.chromaFormat == 3 ? 1 : 2, sy = size.chromaFormat == 1 ? 2 : 1;
  for (int k = 0; k < 3; ++k) {
    const std::vector<std::uint8_t>& pa = k == 0 ? a.y : (k == 1 ? a.u : a.v);
    const std::vector<std::uint8_t>& pb = k == 0 ? b.y : (k == 1 ? b.u : b.v);
    const int columns = k == 0 ? size.width : size.chromaWidth();
    const int rows = k == 0 ? size.height : size.chromaHeight();
    const int mbw = k == 0 ? 16 : 16 / sx, mbh = k == 0 ? 16 : 16 / sy;
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < columns; ++x) {
        const std::size_t at = static_cast<std::size_t>(y) * columns + x;
        MacroblockDifference& d = result[static_cast<std::size_t>(y / mbh) * mbWidth + x / mbw];
        const int difference = std::abs(pa[at] - pb[at]);
        d.largest = std::max(d.largest, difference);
        d.differing += difference != 0;
        ++d.samples;
      }
    }
  }
  return result;
}

}  // namespace conformance
