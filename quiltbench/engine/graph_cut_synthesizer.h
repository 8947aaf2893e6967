// The Quiltbench engine object: grows a larger texture from a sample bitmap by covering
// an output canvas with 32x32 patches on a 24-pixel grid, choosing each patch by a
// random draw or an overlap search and cutting every seam at minimum cost.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/global_memory.h"
#include "quiltbench/engine/dib.h"
#include "quiltbench/engine/synthesis_types.h"

class CGraphCutSynthesizer : public CDib {
 public:
  CGraphCutSynthesizer();
  // Frees every top image, the result image and the second image; never the source.
  ~CGraphCutSynthesizer() override;

  // Grows `source` (a DIB handle, not taken over) by the two scales into a new 24-bit
  // DIB handle owned by the caller, and sets m_strMessage to the time-cost text.
  // Null, message untouched, when the source is refused (a colour table of 1 to 255
  // entries, a block too short for its header, a side under 32 pixels) or memory for
  // the result cannot be had. Throws SynthesisError when a candidate search fails.
  HGLOBAL SynthesizeImage(HGLOBAL source, float scaleX, float scaleY);
  int SynthesizeVideo(const std::string& input, const std::string& output);  // video_synthesis.h

  // The bitmap's pixels as rows of 3 bytes a pixel; 8-bit pixels through the colour
  // table, 24-bit copied, other depths black. Empty for a null handle or a block
  // shorter than its header describes.
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
};
