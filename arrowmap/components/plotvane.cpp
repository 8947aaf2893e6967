// The chart's display list, sharing, layers and rendering.
#include "arrowmap/components/plotvane.h"

namespace arrowmap {

TCustomPlotvane::TCustomPlotvane(forms::TComponent* AOwner) : forms::TCustomControl(AOwner) {
  classVisible_.fill(true);
  kindCounts_[0] = 1;
  xScale_ = new TScale(this);
  yScale_ = new TScale(this);
}
TCustomPlotvane::~TCustomPlotvane() = default;
void TCustomPlotvane::AddMarkItem(std::uint8_t, double, double) {}
void TCustomPlotvane::AddPenLineItem(double, double) {}
void TCustomPlotvane::AddPenMoveItem(double, double) {}
void TCustomPlotvane::ClearItems() {}
void TCustomPlotvane::ShowItems() {}
void TCustomPlotvane::PropagateSharedData() {}
int TCustomPlotvane::ItemCapacity() const { return 0; }
int TCustomPlotvane::KindCount(int) const { return 0; }
void TCustomPlotvane::SetAllocSize(int v) { allocSize_ = v; }
void TCustomPlotvane::SetClassVisible(std::uint8_t c, bool on) { classVisible_[c] = on; }
void TCustomPlotvane::SetUseDataOf(TCustomPlotvane* other) { useDataOf_ = other; }
TCustomPlotvane* TCustomPlotvane::Sharer(int) const { return nullptr; }
void TCustomPlotvane::RequestRepaint() {}
void TCustomPlotvane::SetLayerRange(int, double, double, double, double) {}
double TCustomPlotvane::LayerLowX(int) const { return 0; }
double TCustomPlotvane::LayerHighX(int) const { return 0; }
double TCustomPlotvane::LayerLowY(int) const { return 0; }
double TCustomPlotvane::LayerHighY(int) const { return 0; }
void TCustomPlotvane::SetIsometric(bool v) { isometric_ = v; }
double TCustomPlotvane::PlotX(int, double) const { return 0; }
double TCustomPlotvane::PlotY(int, double) const { return 0; }
void TCustomPlotvane::SetRims(int l, int t, int r, int b) { lRim_ = l; tRim_ = t; rRim_ = r; bRim_ = b; }
void TCustomPlotvane::SetShadowWidth(int v) { shadowWidth_ = v; }
void TCustomPlotvane::SetPlotColor(forms::TColor c) { plotColor_ = c; }
void TCustomPlotvane::SetGridColor(forms::TColor c) { gridColor_ = c; }
void TCustomPlotvane::SetShowGrid(bool v) { showGrid_ = v; }
void TCustomPlotvane::SetShadowColor(forms::TColor c) { shadowColor_ = c; }
void TCustomPlotvane::DrawBackground() {}
void TCustomPlotvane::RenderItems(forms::TCanvas&, int, int, bool, bool) {}
void TCustomPlotvane::Paint() {}
void TCustomPlotvane::Resize() { forms::TCustomControl::Resize(); }
void TCustomPlotvane::Loaded() { forms::TCustomControl::Loaded(); }

}  // namespace arrowmap
