#include "quiltbench/engine/graph_cut_synthesizer.h"

CGraphCutSynthesizer::CGraphCutSynthesizer() = default;

CGraphCutSynthesizer::~CGraphCutSynthesizer() {
  for (HGLOBAL top : m_topImages) platform::GlobalFree(top);
  m_hResultImage = platform::GlobalFree(m_hResultImage);
  m_hSecondImage = platform::GlobalFree(m_hSecondImage);
}

CGraphCutSynthesizer::HGLOBAL CGraphCutSynthesizer::SynthesizeImage(HGLOBAL, float, float) {
  return nullptr;
}

PixelRows CGraphCutSynthesizer::DibToRows(HGLOBAL) { return {}; }

CGraphCutSynthesizer::HGLOBAL CGraphCutSynthesizer::RowsToDib(HGLOBAL, const PixelRows&, int,
                                                              int) {
  return nullptr;
}
