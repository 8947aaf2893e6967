// The Quiltbench engine object: grows a larger texture from a sample bitmap by covering
// an output canvas with 32x32 patches on a 24-pixel grid, choosing each patch by a
// random draw or an overlap search and cutting every seam at minimum cost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "quiltbench/engine/dib.h"
#include "quiltbench/engine/synthesis_types.h"

// What one run will make and need, worked out from the sizes before any work starts.
struct SynthesisPlan {
  int columns = 0;  // patches after the first in a row
  int rows = 0;     // rows after the first
  int width = 0;    // output size
  int height = 0;
  std::uint64_t patches = 0;
  std::uint64_t memoryBytes = 0;  // peak of the run's own buffers
  double seconds = 0;             // rough time on one core of a current machine
};

// The plan for a `w` x `h` sample grown by the two scales with the given options;
// nullopt with the reason when a scale is not a positive finite number or the result
// would be larger than the engine makes.
std::optional<SynthesisPlan> PlanSynthesis(std::uint32_t w, std::uint32_t h, float scaleX,
                                           float scaleY, bool random, int searchMode,
                                           bool postProcess, std::string& reason);

// "about 1.2 GB", "about 35 MB": a size for the progress and the reasons.
std::string DescribeBytes(std::uint64_t bytes);

class CGraphCutSynthesizer : public CDib {
 public:
  CGraphCutSynthesizer();
  // Frees every top image, the result image and the second image; never the source.
  ~CGraphCutSynthesizer() override;

  // Grows `source` (a DIB handle, not taken over) by the two scales into a new 24-bit
  // DIB handle owned by the caller, and sets m_strMessage to the time-cost text.
  // Null, message untouched and the reason in lastReason(), when the source is refused
  // (a colour table of 1 to 255 entries, a depth or compression it cannot convert, a
  // block too short for its header, a side under 32 pixels), when the sample has fewer
  // unused offsets than the grid has patches, or when the run would need more memory
  // or time than the budgets; all of these are found before any work. Prints the plan
  // as progress. Throws SynthesisError when a candidate search fails.
  HGLOBAL SynthesizeImage(HGLOBAL source, float scaleX, float scaleY);
  int SynthesizeVideo(const std::string& input, const std::string& output);  // video_synthesis.h

  // The bitmap's pixels as rows of 3 bytes a pixel; 8-bit pixels through the colour
  // table, 24-bit copied, 16- and 32-bit ones through their channel masks. Empty for a
  // null handle, a block shorter than its header describes and every other depth or
  // compression.
  static PixelRows DibToRows(HGLOBAL dib);

  // A new 24-bit DIB handle (caller owns it) with `source`'s info header, the given
  // size, and `rows` as its stored rows; null when it cannot be allocated.
  static HGLOBAL RowsToDib(HGLOBAL source, const PixelRows& rows, int width, int height);

  // Top images of the interactive mode; the view appends, the destructor frees.
  std::vector<HGLOBAL> m_topImages;
  // Source offsets of every patch placed by this engine, across runs; never reused.
  std::vector<CPoint> m_usedOffsets;
  // Summed-area tables of the current run's source (empty between runs).
  SummedAreaTable<1> m_squareSums;  // b0^2 + b1^2 + b2^2
  SummedAreaTable<3> m_rgbSums;     // bytes 0, 1, 2 in row order
  // 1: candidates drawn at random; 0: searched.
  BYTE m_bRandom = 0;
  // 1: FFT search; 2: naive search; anything else makes every search fail.
  int m_nSearchMode = 1;
  // 1: smooth the output across the recorded seams after synthesis.
  BYTE m_bPostProcess = 0;
  // Most memory a run may take; 0: what the machine has available when the run starts.
  std::uint64_t m_nMemoryBudget = 0;
  // Longest a run may be expected to take: it runs behind a wait cursor with no way
  // to stop it.
  double m_fTimeBudgetSeconds = 3600;
};
