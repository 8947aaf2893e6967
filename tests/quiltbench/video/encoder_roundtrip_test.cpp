// End-to-end checks of the encoder against two independent decoders: small
// synthetic clips are encoded in-process, decoded by libmpeg2 in-process and by
// the ffmpeg program, and every decoded frame must equal the encoder's own
// reconstruction within the rounding of the decoders' inverse transforms.
#include <gtest/gtest.h>
#include <inttypes.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <mpeg2dec/mpeg2.h>
}

#include "quiltbench/video/encoder_entry.h"
#include "tests/support/test_support.h"

namespace {

struct Clip {
  const char* name;
  int width, height, frames;
  int N, M;
  int mpeg1 = 0;
  int fieldPictures = 0;
  int progressive = 1;  // progressive_sequence and progressive_frame
  int chroma = 1;
  int profile = 4, level = 8;
  double bitRate = 1500000;
  int framePredFrameDct = 1;
  int qscale = 0, intraVlc = 0, alternateScan = 0;
  int dcPrecision = 0;
  int topFieldFirst = 0;
  bool noiseOnly = false;
  bool expectDualPrime = false;  // some macroblocks must use dual-prime prediction
  double minimumLumaPsnr = 30;   // of every reconstructed picture against its source
};

// Test names and failure messages show the clip's name, not its bytes.
void PrintTo(const Clip& c, std::ostream* os) { *os << c.name; }

// Planes of one picture of horizontal_size x vertical_size.
struct Picture {
  std::vector<std::uint8_t> y, u, v;
};

int chromaWidth(const Clip& c) { return c.chroma == 3 ? c.width : c.width / 2; }
int chromaHeight(const Clip& c) { return c.chroma == 1 ? c.height / 2 : c.height; }

// Moving shapes over a gradient with noise; in interlaced clips the two fields
// of a frame show the motion half a frame apart.
std::vector<std::uint8_t> syntheticFrame(const Clip& c, int t, std::mt19937& rng) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(c.width) * c.height * 3);
  std::uniform_int_distribution<int> noise(-8, 8), any(0, 255);
  for (int y = 0; y < c.height; ++y) {
    const double time = t + ((!c.progressive && (y & 1)) ? 0.5 : 0.0);
    for (int x = 0; x < c.width; ++x) {
      std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * c.width + x) * 3];
      if (c.noiseOnly) {
        p[0] = static_cast<std::uint8_t>(any(rng));
        p[1] = static_cast<std::uint8_t>(any(rng));
        p[2] = static_cast<std::uint8_t>(any(rng));
        continue;
      }
      int r = 40 + (x * 150) / c.width, g = 60 + (y * 120) / c.height, b = 110;
      const double bx = 5 + 3.0 * time, by = 4 + 1.5 * time;
      if (x >= bx && x < bx + c.width / 3 && y >= by && y < by + c.height / 3) {
        r = 230, g = 200, b = 40;
      }
      const double cx = c.width - 12 - 2.0 * time, cy = c.height / 2.0 + std::sin(time) * 6;
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < 64) r = 20, g = 30, b = 220;
      if (((x / 4) + (y / 4)) % 2 == 0 && x > c.width * 2 / 3) g = std::min(255, g + 40);
      p[0] = static_cast<std::uint8_t>(std::clamp(r + noise(rng), 0, 255));
      p[1] = static_cast<std::uint8_t>(std::clamp(g + noise(rng), 0, 255));
      p[2] = static_cast<std::uint8_t>(std::clamp(b + noise(rng), 0, 255));
    }
  }
  return rgb;
}

std::string parameterFile(const Clip& c, const std::string& dir) {
  std::ostringstream s;
  const int fCode = 2, width = 15;
  s << "round trip " << c.name << "\n"
    << dir << "/f%d\n"
    << dir << "/r%d\n-\n-\n"
    << dir << "/stats.txt\n"
    << "2\n"
    << c.frames << "\n0\n00:00:00:00\n"
    << c.N << "\n"
    << c.M << "\n"
    << c.mpeg1 << "\n"
    << c.fieldPictures << "\n"
    << c.width << "\n"
    << c.height << "\n"
    << (c.mpeg1 ? 1 : 2) << "\n5\n"
    << c.bitRate << "\n"
    << (c.mpeg1 ? 40 : 112) << "\n0\n0\n"
    << c.profile << "\n"
    << c.level << "\n"
    << c.progressive << "\n"
    << c.chroma << "\n"
    << "2\n5\n5\n5\n"
    << c.width << "\n"
    << c.height << "\n"
    << c.dcPrecision << "\n"
    << c.topFieldFirst << "\n"
    << c.framePredFrameDct << " " << c.framePredFrameDct << " " << c.framePredFrameDct << "\n"
    << "0 0 0\n"
    << c.qscale << " " << c.qscale << " " << c.qscale << "\n"
    << c.intraVlc << " " << c.intraVlc << " " << c.intraVlc << "\n"
    << c.alternateScan << " " << c.alternateScan << " " << c.alternateScan << "\n"
    << "0\n"
    << c.progressive << "\n0\n"
    << "0\n0\n0\n0\n0\n0\n0\n0\n";
  s << fCode << " " << fCode << " " << width << " " << width << "\n";
  for (int n = 1; n < c.M; ++n) {
    s << fCode << " " << fCode << " " << width << " " << width << "\n";
    s << fCode << " " << fCode << " " << width << " " << width << "\n";
  }
  return s.str();
}

std::vector<std::uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Picture readReconstruction(const std::string& base) {
  return {readAll(base + ".Y"), readAll(base + ".U"), readAll(base + ".V")};
}

// Every frame libmpeg2 decodes, in display order, cropped to the picture size.
std::vector<Picture> decodeWithLibmpeg2(const Clip& c, const std::vector<std::uint8_t>& stream) {
  std::vector<Picture> pictures;
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
        const int cw = chromaWidth(c), ch = chromaHeight(c);
        for (int y = 0; y < c.height; ++y) {
          const std::uint8_t* row =
              info->display_fbuf->buf[0] + static_cast<std::size_t>(y) * seq->width;
          p.y.insert(p.y.end(), row, row + c.width);
        }
        for (int k = 1; k < 3; ++k) {
          std::vector<std::uint8_t>& plane = k == 1 ? p.u : p.v;
          for (int y = 0; y < ch; ++y) {
            const std::uint8_t* row =
                info->display_fbuf->buf[k] + static_cast<std::size_t>(y) * seq->chroma_width;
            plane.insert(plane.end(), row, row + cw);
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

std::vector<Picture> decodeWithFfmpeg(const Clip& c, const std::string& streamPath,
                                      const std::string& dir) {
  const std::string raw = dir + "/ffmpeg.yuv";
  const char* format = c.chroma == 1 ? "yuv420p" : (c.chroma == 2 ? "yuv422p" : "yuv444p");
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -i '" +
                              streamPath + "' -vsync 0 -f rawvideo -pix_fmt " + format + " -y '" +
                              raw + "'";
  if (std::system(command.c_str()) != 0) return {};
  const std::vector<std::uint8_t> all = readAll(raw);
  const std::size_t luma = static_cast<std::size_t>(c.width) * c.height;
  const std::size_t chroma = static_cast<std::size_t>(chromaWidth(c)) * chromaHeight(c);
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

double psnr(const Picture& a, const Picture& b) {
  double squared = 0;
  std::size_t count = 0;
  for (auto [pa, pb] : {std::pair{&a.y, &b.y}, std::pair{&a.u, &b.u}, std::pair{&a.v, &b.v}}) {
    if (pa->size() != pb->size()) return -1;
    for (std::size_t i = 0; i < pa->size(); ++i) {
      const double d = static_cast<double>((*pa)[i]) - (*pb)[i];
      squared += d * d;
    }
    count += pa->size();
  }
  if (squared == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * count / squared);
}

// Dual-prime macroblocks show as 'p' in the statistics' macroblock type maps.
int dualPrimeMacroblocks(const std::string& statisticsPath) {
  std::ifstream in(statisticsPath);
  std::string line;
  bool inMap = false;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.rfind("macroblock_type map:", 0) == 0) {
      inMap = true;
      continue;
    }
    if (line.empty()) inMap = false;
    if (!inMap) continue;
    for (std::size_t i = 0; i < line.size(); i += 3) count += line[i] == 'p';
  }
  return count;
}

// The smallest luma PSNR of the reconstruction against the source over all
// coded pictures, from the encoder's SNR lines ("Y: ... MSE=... (x dB) ...").
double smallestLumaPsnr(const std::string& statisticsPath) {
  std::ifstream in(statisticsPath);
  std::string line;
  double smallest = 1e9;
  while (std::getline(in, line)) {
    if (line.rfind("Y: variance=", 0) != 0) continue;
    const std::size_t open = line.find('(');
    if (open == std::string::npos) return -1;
    smallest = std::min(smallest, std::atof(line.c_str() + open + 1));
  }
  return smallest;
}

// Mean absolute luma difference of two pictures.
double lumaMeanAbsoluteDifference(const Picture& a, const Picture& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.y.size() && i < b.y.size(); ++i) sum += std::abs(a.y[i] - b.y[i]);
  return a.y.empty() ? 1e9 : sum / a.y.size();
}

class EncoderRoundTrip : public ::testing::TestWithParam<Clip> {};

TEST_P(EncoderRoundTrip, BothDecodersReproduceTheReconstruction) {
  const Clip& c = GetParam();
  test_support::TempDir dir;
  const std::string d = dir.path().string();
  std::mt19937 rng(7);
  std::vector<std::vector<std::uint8_t>> sources;
  for (int t = 0; t < c.frames; ++t) {
    const std::vector<std::uint8_t> rgb = syntheticFrame(c, t, rng);
    std::ofstream out(d + "/f" + std::to_string(t) + ".ppm", std::ios::binary);
    out << "P6\n" << c.width << " " << c.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  }
  {
    std::ofstream par(d + "/clip.par", std::ios::binary);
    par << parameterFile(c, d);
  }
  const std::string streamPath = d + "/clip.m2v";
  ASSERT_EQ(quiltbench::encoder::encode_mpeg2_file(d + "/clip.par", streamPath), 0);

  std::vector<Picture> reconstruction;
  for (int t = 0; t < c.frames; ++t) {
    reconstruction.push_back(readReconstruction(d + "/r" + std::to_string(t)));
    ASSERT_EQ(reconstruction.back().y.size(), static_cast<std::size_t>(c.width) * c.height);
  }

  const std::vector<std::uint8_t> stream = readAll(streamPath);
  const std::vector<Picture> libmpeg2 = decodeWithLibmpeg2(c, stream);
  const std::vector<Picture> ffmpeg = decodeWithFfmpeg(c, streamPath, d);
  EXPECT_GT(smallestLumaPsnr(d + "/stats.txt"), c.minimumLumaPsnr)
      << "reconstruction against source";
  if (c.expectDualPrime) {
    EXPECT_GT(dualPrimeMacroblocks(d + "/stats.txt"), 0);
  }
  ASSERT_EQ(libmpeg2.size(), reconstruction.size()) << "libmpeg2 frames";
  ASSERT_EQ(ffmpeg.size(), reconstruction.size()) << "ffmpeg frames";
  for (int t = 0; t < c.frames; ++t) {
    SCOPED_TRACE("frame " + std::to_string(t));
    EXPECT_GT(psnr(libmpeg2[t], reconstruction[t]), 45.0) << "libmpeg2";
    EXPECT_GT(psnr(ffmpeg[t], reconstruction[t]), 45.0) << "ffmpeg";
    if (t > 0 && !c.noiseOnly) {
      // Consecutive frames differ: the decoders did not just repeat one picture.
      EXPECT_GT(lumaMeanAbsoluteDifference(reconstruction[t], reconstruction[t - 1]), 0.5);
    }
  }
}

Clip clip(const char* name, int w, int h, int frames, int N, int M) {
  Clip c{};
  c.name = name;
  c.width = w, c.height = h, c.frames = frames, c.N = N, c.M = M;
  return c;
}

std::vector<Clip> clips() {
  std::vector<Clip> all;
  all.push_back(clip("progressive_420_N12_M3", 64, 48, 8, 12, 3));
  all.push_back(clip("progressive_176x144_M1", 176, 144, 5, 6, 1));
  // Pictures that end inside a macroblock: the coded border is cropped away.
  all.push_back(clip("progressive_100x60_partial_macroblocks", 100, 60, 5, 4, 2));
  {
    Clip c = clip("field_pictures_100x60_partial_macroblocks", 100, 60, 4, 4, 2);
    c.progressive = 0, c.framePredFrameDct = 0, c.fieldPictures = 1, c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    Clip c = clip("intra_only_N1_nonlinear_q_table_one_alternate_scan", 176, 144, 3, 1, 1);
    c.qscale = 1, c.intraVlc = 1, c.alternateScan = 1, c.dcPrecision = 2;
    all.push_back(c);
  }
  {
    Clip c = clip("interlaced_frame_pictures", 176, 144, 7, 6, 3);
    c.progressive = 0, c.framePredFrameDct = 0, c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    Clip c = clip("interlaced_frame_pictures_M1_dual_prime", 176, 144, 5, 6, 1);
    c.progressive = 0, c.framePredFrameDct = 0, c.topFieldFirst = 1, c.expectDualPrime = true;
    all.push_back(c);
  }
  {
    Clip c = clip("interlaced_bottom_first_M1_dual_prime", 64, 48, 4, 4, 1);
    c.progressive = 0, c.framePredFrameDct = 0, c.topFieldFirst = 0, c.expectDualPrime = true;
    all.push_back(c);
  }
  {
    Clip c = clip("field_pictures_top_first", 176, 144, 7, 6, 3);
    c.progressive = 0, c.framePredFrameDct = 0, c.fieldPictures = 1, c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    Clip c = clip("field_pictures_bottom_first_M1_dual_prime", 176, 144, 4, 4, 1);
    c.progressive = 0, c.framePredFrameDct = 0, c.fieldPictures = 1, c.topFieldFirst = 0;
    c.expectDualPrime = true;
    all.push_back(c);
  }
  {
    Clip c = clip("mpeg1", 176, 144, 7, 6, 3);
    c.mpeg1 = 1;
    all.push_back(c);
  }
  {
    Clip c = clip("interlaced_422", 176, 144, 5, 6, 2);
    c.chroma = 2, c.profile = 1, c.progressive = 0, c.framePredFrameDct = 0, c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    Clip c = clip("field_pictures_422", 64, 48, 4, 4, 2);
    c.chroma = 2, c.profile = 1, c.progressive = 0, c.framePredFrameDct = 0, c.fieldPictures = 1;
    c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    // No defined profile carries 4:4:4; a reserved profile skips the checks.
    Clip c = clip("interlaced_444", 64, 48, 4, 4, 2);
    c.chroma = 3, c.profile = 8, c.progressive = 0, c.framePredFrameDct = 0, c.topFieldFirst = 1;
    all.push_back(c);
  }
  {
    // A rate of one bit per second leaves the reaction parameter at zero; the
    // coarsest quantiser must still give a decodable stream.
    Clip c = clip("one_bit_per_second", 64, 48, 4, 4, 2);
    c.bitRate = 1, c.minimumLumaPsnr = 10;
    all.push_back(c);
  }
  {
    // Noise at a high rate makes large levels: escapes of both tables.
    Clip c = clip("noise_high_rate_escapes", 64, 48, 4, 4, 2);
    c.noiseOnly = true, c.profile = 1, c.level = 4, c.bitRate = 60e6, c.intraVlc = 1,
    c.dcPrecision = 3;
    c.minimumLumaPsnr = 20;
    all.push_back(c);
  }
  {
    Clip c = clip("mpeg1_noise_high_rate_escapes", 64, 48, 4, 4, 2);
    c.noiseOnly = true, c.mpeg1 = 1, c.bitRate = 30e6, c.minimumLumaPsnr = 20;
    all.push_back(c);
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(Clips, EncoderRoundTrip, ::testing::ValuesIn(clips()),
                         [](const ::testing::TestParamInfo<Clip>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
