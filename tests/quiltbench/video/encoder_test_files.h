// Parameter files and source frames for the encoder's tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace encoder_test {

// A parameter file as its lines; line numbers count from 1 as in the file.
struct ParameterFile {
  std::vector<std::string> lines;

  // Replaces line `number` (1-based) by `text` (without its newline).
  ParameterFile& set(int number, const std::string& text) {
    lines.at(static_cast<std::size_t>(number - 1)) = text;
    return *this;
  }

  // Replaces the motion records (line 51 on) by `records`.
  ParameterFile& motion(const std::vector<std::string>& records) {
    lines.resize(50);
    lines.insert(lines.end(), records.begin(), records.end());
    return *this;
  }

  std::string text() const {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }

  void write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out << text();
  }
};

// A valid MPEG-2 Main Profile @ Main Level parameter file: 64x48 progressive
// 4:2:0 PPM frames "frame<n>.ppm", 12 pictures per group with M = 3, no
// statistics file, no reconstructed frames.
inline ParameterFile baseParameters() {
  return ParameterFile{{
      "encoder test sequence",  // 1 description
      "frame%d",                // 2 frame_name_pattern
      "-",                      // 3 recon_name_pattern
      "-",                      // 4 intra matrix
      "-",                      // 5 non-intra matrix
      "-",                      // 6 statistics
      "2",                      // 7 input_type (PPM)
      "3",                      // 8 frame_count
      "0",                      // 9 first_frame_number
      "00:00:00:00",            // 10 time code
      "12",                     // 11 N
      "3",                      // 12 M
      "0",                      // 13 mpeg1
      "0",                      // 14 field_pictures
      "64",                     // 15 horizontal_size
      "48",                     // 16 vertical_size
      "2",                      // 17 aspect_ratio_information
      "5",                      // 18 frame_rate_code
      "1000000.0",              // 19 bit_rate
      "112",                    // 20 vbv_buffer_size
      "0",                      // 21 low_delay
      "0",                      // 22 constrained_parameters_flag
      "4",                      // 23 profile (Main)
      "8",                      // 24 level (Main)
      "1",                      // 25 progressive_sequence
      "1",                      // 26 chroma_format
      "2",                      // 27 video_format
      "5",                      // 28 color_primaries
      "5",                      // 29 transfer_characteristics
      "5",                      // 30 matrix_coefficients
      "64",                     // 31 display_horizontal_size
      "48",                     // 32 display_vertical_size
      "0",                      // 33 intra_dc_precision
      "0",                      // 34 top_field_first
      "1 1 1",                  // 35 frame_pred_frame_dct
      "0 0 0",                  // 36 concealment
      "0 0 0",                  // 37 qscale_tab
      "0 0 0",                  // 38 intravlc_tab
      "0 0 0",                  // 39 altscan_tab
      "0",                      // 40 repeat_first_field
      "1",                      // 41 progressive_frame
      "0",                      // 42 intra_slice_refresh
      "0",                      // 43 r
      "0",                      // 44 avg_act
      "0",                      // 45 Xi
      "0",                      // 46 Xp
      "0",                      // 47 Xb
      "0",                      // 48 d0i
      "0",                      // 49 d0p
      "0",                      // 50 d0b
      "2 2 11 11",              // 51 P record
      "1 1 3 3",
      "1 1 7 7",  // B record 1: forward, backward
      "1 1 7 7",
      "1 1 3 3",  // B record 2
  }};
}

// Writes a binary PPM of `width` x `height` pixels, R, G, B, top row first.
inline void writePpm(const std::string& path, int width, int height,
                     const std::vector<std::uint8_t>& rgb, const std::string& header = "") {
  std::ofstream out(path, std::ios::binary);
  if (header.empty()) {
    out << "P6\n" << width << " " << height << "\n255\n";
  } else {
    out << header;
  }
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

}  // namespace encoder_test
