// The MPEG-2 encoder's process-wide state: the parameter set read from the
// parameter file, the sizes derived from it, the frame stores, the per-picture
// values and macroblock records, and the two output streams.
//
// The encoder keeps one instance of this record (`g_encoder`), so it cannot run
// twice at once. Stages should take the named pieces they need (`const Sizes&`,
// `PictureState&`, a `Frame&`...) rather than the whole record. Working records
// private to one stage (the bit writer's buffer, rate control's running sums,
// motion-search scratch) live in that stage's own file and are reset by its init
// function.
//
// Field names that are syntax elements of the coded stream keep the standard's
// element names (horizontal_size, intra_dc_precision, f_code...), so that the
// header-writing code reads like the syntax it writes.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace quiltbench::encoder {

// ---- Codes used throughout ------------------------------------------------------

// picture_coding_type
constexpr int kPictureI = 1;
constexpr int kPictureP = 2;
constexpr int kPictureB = 3;

// picture_structure
constexpr int kTopField = 1;
constexpr int kBottomField = 2;
constexpr int kFramePicture = 3;

// chroma_format
constexpr int kChroma420 = 1;
constexpr int kChroma422 = 2;
constexpr int kChroma444 = 3;

// Macroblock type flags (MacroblockInfo::mb_type).
constexpr int kMbIntra = 1;
constexpr int kMbPattern = 2;
constexpr int kMbBackward = 4;
constexpr int kMbForward = 8;
constexpr int kMbQuant = 16;

// frame_motion_type / field_motion_type (MacroblockInfo::motion_type).
constexpr int kMotionField = 1;  // field prediction (frame pictures)
constexpr int kMotionFrame = 2;  // frame prediction (frame pictures)
constexpr int kMotion16x8 = 2;   // 16x8 prediction (field pictures)
constexpr int kMotionDualPrime = 3;

// Input formats of the source frames (EncoderParameters::input_type).
constexpr int kInputSeparateYuv = 0;  // name.Y, name.U, name.V
constexpr int kInputSingleYuv = 1;    // name.yuv
constexpr int kInputPpm = 2;          // name.ppm

// f_code value written for a direction that the picture does not use.
constexpr int kUnusedFCode = 15;

// ---- Parameter set ----------------------------------------------------------------

// Motion search setup for one distance from the previous reference picture.
// Record 0 serves P pictures; record n (1 <= n < M) the n-th B picture after a
// reference. The backward half of record 0 is never read or written.
struct EncoderMotionData {
  std::int32_t forw_hor_f_code = 0;
  std::int32_t forw_vert_f_code = 0;
  std::int32_t sxf = 0;  // forward horizontal search width (full pels)
  std::int32_t syf = 0;  // forward vertical search width
  std::int32_t back_hor_f_code = 0;
  std::int32_t back_vert_f_code = 0;
  std::int32_t sxb = 0;  // backward horizontal search width
  std::int32_t syb = 0;  // backward vertical search width
};

// Every value of the parameter file, in file order, after the corrections that
// reading applies (flags are 0 or 1).
struct EncoderParameters {
  std::string description;  // line 1, including its newline; user data when longer than 1
  std::string frame_name_pattern;
  std::string recon_name_pattern;
  std::string intra_matrix_file;
  std::string non_intra_matrix_file;
  std::string statistics_file;
  int input_type = kInputPpm;
  int frame_count = 0;
  int first_frame_number = 0;
  int time_code_hours = 0, time_code_minutes = 0, time_code_seconds = 0, time_code_pictures = 0;
  int N = 0;  // pictures per group of pictures
  int M = 0;  // distance between reference pictures
  int mpeg1 = 0;
  int field_pictures = 0;
  int horizontal_size = 0;
  int vertical_size = 0;
  int aspect_ratio_information = 0;  // pel_aspect_ratio for MPEG-1
  int frame_rate_code = 0;
  double bit_rate = 0;      // bits per second
  int vbv_buffer_size = 0;  // units of 16384 bits
  int low_delay = 0;
  int constrained_parameters_flag = 0;
  int profile = 0;  // 1 High, 2 Spatial, 3 SNR, 4 Main, 5 Simple
  int level = 0;    // 4 High, 6 High 1440, 8 Main, 10 Low
  int progressive_sequence = 0;
  int chroma_format = kChroma420;
  int video_format = 0;
  int color_primaries = 0;
  int transfer_characteristics = 0;
  int matrix_coefficients = 0;
  int display_horizontal_size = 0;
  int display_vertical_size = 0;
  int intra_dc_precision = 0;  // 0..3 for 8..11 bits
  int top_field_first = 0;
  // Per picture type, indexed by picture_coding_type - 1 (I, P, B).
  int frame_pred_frame_dct_tab[3] = {};
  int concealment_tab[3] = {};  // read, never used
  int qscale_tab[3] = {};
  int intravlc_tab[3] = {};
  int altscan_tab[3] = {};
  int repeat_first_field = 0;
  int progressive_frame = 0;
  int intra_slice_refresh = 0;  // read, never used
  // Rate control setup as read; 0 asks for the default, applied when the
  // sequence's rate control starts (r first: d0i, d0p and d0b depend on it).
  int r = 0;
  double avg_act = 0;
  int Xi = 0, Xp = 0, Xb = 0;
  int d0i = 0, d0p = 0, d0b = 0;
  std::vector<EncoderMotionData> motion_data;  // M records

  // Derived while reading.
  double frame_rate = 0;    // from frame_rate_code
  int start_time_code = 0;  // time code of the first frame, in frames
};

// Quantiser matrices in raster order (row by row, as the files give them).
struct QuantMatrices {
  std::array<std::uint8_t, 64> intra{};
  std::array<std::uint8_t, 64> non_intra{};
  bool load_intra = false;  // written in the sequence header
  bool load_non_intra = false;
};

// Sizes derived from the parameters by init_encoder.
struct Sizes {
  int mb_width = 0;    // macroblocks per row
  int mb_height = 0;   // macroblock rows of a frame
  int mb_height2 = 0;  // macroblock rows of one coded picture (half for field pictures)
  int width = 0;       // coded luma width, 16 * mb_width
  int height = 0;      // coded luma height, 16 * mb_height
  int chrom_width = 0;
  int chrom_height = 0;
  int width2 = 0;        // luma row stride of one coded picture (2 * width for fields)
  int height2 = 0;       // luma rows of one coded picture
  int chrom_width2 = 0;  // chroma row stride of one coded picture
  int block_count = 0;   // blocks per macroblock: 6, 8 or 12
};

// ---- Frame stores ---------------------------------------------------------------

// One picture: luma width x height, then two chroma planes chrom_width x
// chrom_height, rows one after another. A field of a frame starts at row 0 (top)
// or row 1 (bottom) and steps two rows.
struct Frame {
  std::array<std::vector<std::uint8_t>, 3> plane;

  std::uint8_t* operator[](int component) { return plane[component].data(); }
  const std::uint8_t* operator[](int component) const { return plane[component].data(); }
};

struct FrameStores {
  Frame newReference;       // reconstruction of the latest reference picture
  Frame oldReference;       // reconstruction of the reference before it
  Frame auxReconstruction;  // reconstruction of the current B picture
  Frame newSource;          // source of the latest reference picture
  Frame oldSource;          // source of the reference before it
  Frame auxSource;          // source of the current B picture
  Frame prediction;         // motion-compensated prediction of the current picture
};

// ---- Per-picture values ---------------------------------------------------------

// Set by the sequence loop before each picture (or field) is coded.
struct PictureState {
  int pict_type = kPictureI;
  int temporal_reference = 0;
  int pict_struct = kFramePicture;
  bool second_field = false;        // coding the second field of a frame
  bool predict_from_first = false;  // an I frame's second field predicts from its first (P field)
  int forw_hor_f_code = kUnusedFCode;
  int forw_vert_f_code = kUnusedFCode;
  int back_hor_f_code = kUnusedFCode;
  int back_vert_f_code = kUnusedFCode;
  int sxf = 0, syf = 0;  // forward search widths
  int sxb = 0, syb = 0;  // backward search widths
  int frame_pred_frame_dct = 1;
  int q_scale_type = 0;
  int intra_vlc_format = 0;
  int alternate_scan = 0;
  // Copies of the sequence-wide flags that the picture coding extension writes;
  // top_field_first is 0 in field pictures (the field order is pict_struct's).
  int top_field_first = 0;
  int repeat_first_field = 0;
  int progressive_frame = 1;
  int intra_dc_precision = 0;
};

// One macroblock of the current picture.
struct MacroblockInfo {
  int mb_type = 0;      // kMb* flags
  int motion_type = 0;  // kMotion*
  int dct_type = 0;     // 1: field DCT (frame pictures only)
  int mquant = 0;       // quantiser_scale of this macroblock
  int cbp = 0;          // coded block pattern, one bit per block, block 0 in the top bit
  bool skipped = false;
  // Motion vectors in half-pel units: [r first/second][s forward/backward][t horizontal/vertical].
  int MV[2][2][2] = {};
  int mv_field_sel[2][2] = {};  // [r][s]: reference field (0 top, 1 bottom)
  int dmvector[2] = {};         // dual-prime differential vector
  double act = 0;               // spatial activity, filled by rate control
};

using Block = std::array<std::int16_t, 64>;

// ---- The whole record -------------------------------------------------------------

struct EncoderState {
  EncoderParameters params;
  QuantMatrices matrices;
  Sizes sizes;

  // Clip table addressed from -384 to 639 through `clip`: below 0 holds 0,
  // 0..255 the index, above 255 holds 255.
  std::array<std::uint8_t, 1024> clipStorage{};
  const std::uint8_t* clip = clipStorage.data() + 384;

  FrameStores frames;
  PictureState picture;
  std::vector<MacroblockInfo> macroblocks;  // mb_width * mb_height2, row by row
  std::vector<Block> blocks;                // mb_width * mb_height2 * block_count

  // Scratch planes of the PPM reader: two full-size chroma planes and, for
  // 4:2:0, two half-width planes; reused for every frame of a size.
  std::array<std::vector<std::uint8_t>, 2> ppmChroma;
  std::array<std::vector<std::uint8_t>, 2> ppmHalfChroma;

  std::FILE* output = nullptr;  // the coded stream
  // The new stream's file beside the output, until it is renamed into place; a fatal
  // error removes it, so a failed encode leaves the old output as it was.
  std::string outputTemporary;
  std::FILE* statistics = nullptr;  // statistics text; may be stdout
  bool statisticsIsStdout = false;  // then it is flushed, never closed
};

// The process-wide encoder record.
inline EncoderState g_encoder;

// Every error of the encoder ends here: prints `text` and a newline to the error
// stream, removes an unfinished output stream and exits the process with status 1,
// or, while a RecoverableEncoderErrors lives, throws EncoderFatalError instead.
[[noreturn]] void encoder_fatal(const std::string& text);

// What encoder_fatal throws for a caller that takes its errors back.
class EncoderFatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// For its lifetime the encoder's fatal errors throw instead of ending the process, so
// the caller can clean up and report. The encoder's state is then unusable until the
// next init.
class RecoverableEncoderErrors {
 public:
  RecoverableEncoderErrors() : previous_(active_) { active_ = true; }
  ~RecoverableEncoderErrors() { active_ = previous_; }
  RecoverableEncoderErrors(const RecoverableEncoderErrors&) = delete;
  RecoverableEncoderErrors& operator=(const RecoverableEncoderErrors&) = delete;
  static bool active() { return active_; }

 private:
  bool previous_;
  static inline thread_local bool active_ = false;
};

}  // namespace quiltbench::encoder
