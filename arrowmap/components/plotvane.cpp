// The chart's display list, data sharing, layer ranges and rendering.
#include "arrowmap/components/plotvane.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "arrowmap/components/qdxbase.h"
#include "platform/ui.h"

namespace arrowmap {
namespace {

// Lines are clipped to the plot grown by this margin before they reach cairo,
// whose fixed-point coordinates wrap far outside the surface.
constexpr double kClipMargin = 64;

// Clips the segment to the rectangle (Liang-Barsky); false when nothing is left.
bool clipSegment(double& x0, double& y0, double& x1, double& y1, double left, double top,
                 double right, double bottom) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1))
    return false;
  double t0 = 0, t1 = 1;
  const double dx = x1 - x0, dy = y1 - y0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const double ax = x0 + t0 * dx, ay = y0 + t0 * dy;
  x1 = x0 + t1 * dx;
  y1 = y0 + t1 * dy;
  x0 = ax;
  y0 = ay;
  return true;
}

// Draws the items onto one cairo context: lines as cairo strokes, marks as pixel
// patterns written into the image between strokes.
class ItemPainter {
 public:
  // `clip` is the plot's rectangle in device pixels of the target surface.
  ItemPainter(cairo_t* cr, const forms::TRect& clip)
      : cr_(cr), target_(cairo_get_target(cr)), clip_(clip) {}
  ~ItemPainter() { endStamping(); }
  ItemPainter(const ItemPainter&) = delete;
  ItemPainter& operator=(const ItemPainter&) = delete;

  void stamp(double x, double y, int markType, forms::TColor color) {
    if (!stamping_) {
      cairo_surface_flush(target_);
      stamping_ = true;
    }
    StampDataMark(target_, clip_.Left + static_cast<int>(std::floor(x)),
                  clip_.Top + static_cast<int>(std::floor(y)), markType, color, clip_);
  }

  // One stroke per segment: cairo is markedly faster on many small paths than on
  // one path that spans the whole plot.
  void line(double x0, double y0, double x1, double y1, forms::TColor color, int width,
            forms::TPenStyle style) {
    endStamping();
    forms::TPen pen;
    pen.Color = color;
    pen.Width = width;
    pen.Style = style;
    cairo_save(cr_);
    if (forms::applyPen(cr_, pen)) {
      // Square caps reach the end pixels of solid lines; on dashes they would close the gaps.
      if (style == forms::psSolid) cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
      // Whole pixels as the scales give them; odd widths through pixel centres.
      const double c = width % 2 == 1 ? 0.5 : 0;
      cairo_move_to(cr_, std::round(x0) + c, std::round(y0) + c);
      cairo_line_to(cr_, std::round(x1) + c, std::round(y1) + c);
      cairo_stroke(cr_);
    }
    cairo_restore(cr_);
  }

 private:
  void endStamping() {
    if (!stamping_) return;
    cairo_surface_mark_dirty(target_);
    stamping_ = false;
  }

  cairo_t* cr_;
  cairo_surface_t* target_;
  forms::TRect clip_;
  bool stamping_ = false;
};

}  // namespace

TCustomPlotvane::TCustomPlotvane(forms::TComponent* AOwner) : forms::TCustomControl(AOwner) {
  classVisible_.fill(true);
  kindCounts_[0] = 1;
  xScale_ = new TScale(this);
  xScale_->SetScaleType(sctXB);
  xScale_->SetShortTicks(false);
  yScale_ = new TScale(this);
  yScale_->SetScaleType(sctYL);
  yScale_->SetShortTicks(false);
  for (LayerRange& layer : layers_) layer = LayerRange{};
  SetColor(forms::clWhite);
}

TCustomPlotvane::~TCustomPlotvane() {
  if (useDataOf_) useDataOf_->removeSharer(this);
  for (int i = 0; i < sharerCount_; ++i) sharers_[i]->useDataOf_ = nullptr;
  sharerCount_ = 0;
}

// ---- the display list ----

int TCustomPlotvane::ItemCapacity() const { return items_ ? static_cast<int>(items_->size()) : 0; }

int TCustomPlotvane::KindCount(int kind) const {
  return kind >= 0 && kind < kKindCount ? kindCounts_[kind] : 0;
}

void TCustomPlotvane::SetAllocSize(int v) {
  if (v >= 1 && v <= 1000000) allocSize_ = v;
}

void TCustomPlotvane::SetClassVisible(std::uint8_t itemClass, bool on) {
  if (classVisible_[itemClass] == on) return;
  classVisible_[itemClass] = on;
  RequestRepaint();
}

bool TCustomPlotvane::arrayHeldOutsideGroup() const {
  if (!items_) return false;
  const TCustomPlotvane* owner = useDataOf_ ? useDataOf_ : this;
  long holders = owner->items_ == items_;
  for (int i = 0; i < owner->sharerCount_; ++i) holders += owner->sharers_[i]->items_ == items_;
  return items_.use_count() > holders;
}

void TCustomPlotvane::append(std::uint8_t kind, double x, double y, std::uint8_t markType) {
  const int capacity = ItemCapacity();
  const bool grow = itemCount_ >= capacity;
  if (grow && capacity > INT_MAX - allocSize_) throw EQdxError("Plotvane: too many items");
  const std::size_t length = static_cast<std::size_t>(capacity) + (grow ? allocSize_ : 0);
  if (arrayHeldOutsideGroup() || (grow && items_.use_count() > 1) || !items_) {
    // A chart that left the group still shows the old array: it keeps it untouched,
    // and this group goes on with its own copy.
    auto copy = std::make_shared<TChartItems>(length);
    if (items_) std::copy_n(items_->begin(), std::min(items_->size(), length), copy->begin());
    items_ = std::move(copy);
  } else if (grow) {
    items_->resize(length);
  }
  TChartItem& item = (*items_)[itemCount_];
  item = TChartItem{};
  item.Kind = kind;
  item.Layer = dataLayer_;
  item.ItemClass = classDefault_;
  item.X = x;
  item.Y = y;
  item.Color = dataColor_;
  item.PenStyle = penStyle_;
  item.Tag = itemTag_;
  item.LineWidth = lineWidth_;
  if (kind == kKindMark) item.MarkType = markType;
  ++kindCounts_[kind];
  ++itemCount_;
  PropagateSharedData();
}

void TCustomPlotvane::AddMarkItem(std::uint8_t markType, double x, double y) {
  append(kKindMark, x, y, markType);
}
void TCustomPlotvane::AddPenLineItem(double x, double y) { append(kKindLineTo, x, y, 0); }
void TCustomPlotvane::AddPenMoveItem(double x, double y) { append(kKindPenMove, x, y, 0); }

void TCustomPlotvane::ClearItems() {
  DrawBackground();
  itemCount_ = 0;
  items_.reset();
  lastShown_ = 0;
  kindCounts_.fill(0);
  PropagateSharedData();
}

void TCustomPlotvane::ShowItems() {
  if (Visible()) {
    lastShown_ = itemCount_ - 1;
    PropagateSharedData();
    if (autoRedraw_) {
      DrawBackground();
      RenderItems(plotBitmap_.Canvas(), 0, 0, true, true);
      controlBitmap_.Canvas().Draw(lRim_, tRim_, plotBitmap_);
      Canvas().Draw(lRim_, tRim_, plotBitmap_);
      SurfaceChanged();
    } else {
      Paint();
    }
  }
  // This chart has just drawn itself; the others of its group get asked.
  if (useDataOf_) {
    useDataOf_->RequestRepaint();
    for (int i = 0; i < useDataOf_->sharerCount_; ++i) {
      if (useDataOf_->sharers_[i] != this) useDataOf_->sharers_[i]->RequestRepaint();
    }
  }
  for (int i = 0; i < sharerCount_; ++i) sharers_[i]->RequestRepaint();
}

void TCustomPlotvane::takeListOf(const TCustomPlotvane& source) {
  items_ = source.items_;
  itemCount_ = source.itemCount_;
  lastShown_ = source.lastShown_;
  kindCounts_ = source.kindCounts_;
}

void TCustomPlotvane::PropagateSharedData() {
  if (useDataOf_) {
    useDataOf_->takeListOf(*this);
    for (int i = 0; i < useDataOf_->sharerCount_; ++i) {
      if (useDataOf_->sharers_[i] != this) useDataOf_->sharers_[i]->takeListOf(*this);
    }
  }
  for (int i = 0; i < sharerCount_; ++i) sharers_[i]->takeListOf(*this);
}

// ---- data sharing ----

TCustomPlotvane* TCustomPlotvane::Sharer(int index) const {
  return index >= 0 && index < sharerCount_ ? sharers_[index] : nullptr;
}

void TCustomPlotvane::removeSharer(TCustomPlotvane* sharer) {
  auto end = sharers_.begin() + sharerCount_;
  auto it = std::find(sharers_.begin(), end, sharer);
  if (it == end) return;
  std::move(it + 1, end, it);
  --sharerCount_;
  sharers_[sharerCount_] = nullptr;
}

void TCustomPlotvane::RequestRepaint() {
  if (autoRedraw_ || Designing()) Invalidate();
}

void TCustomPlotvane::SetUseDataOf(TCustomPlotvane* other) {
  if (other == this) {
    platform::ui().messageBox(kMsgShareWithMyself);
    return;
  }
  if (other == useDataOf_) return;
  if (sharerCount_ > 0) {
    platform::ui().messageBox(kMsgForeignData);
    return;
  }
  if (other) {
    // Sharing is one level deep: join the chart that owns the list.
    if (other->useDataOf_) other = other->useDataOf_;
    if (other == useDataOf_) return;
    if (other->sharerCount_ >= kMaxSharers) {
      platform::ui().messageBox(kMsgSharesExceeded);
      return;
    }
    if (useDataOf_) useDataOf_->removeSharer(this);
    useDataOf_ = other;
    takeListOf(*other);
    other->sharers_[other->sharerCount_++] = this;
  } else {
    useDataOf_->removeSharer(this);
    useDataOf_ = nullptr;
  }
  RequestRepaint();
}

// ---- layers and ranges ----

void TCustomPlotvane::SetLayerRange(int layer, double lowX, double lowY, double highX,
                                    double highY) {
  if (layer < 1 || layer > kLayerCount) return;
  if (!(lowX != highX && lowY != highY) || !std::isfinite(lowX + lowY + highX + highY)) return;
  LayerRange& r = layers_[layer - 1];
  r.lowX = lowX;
  r.highX = highX;
  r.lowY = lowY;
  r.highY = highY;
  applyRanges();
  Invalidate();
}

double TCustomPlotvane::LayerLowX(int layer) const {
  return layers_[std::clamp(layer, 1, kLayerCount) - 1].lowX;
}
double TCustomPlotvane::LayerHighX(int layer) const {
  return layers_[std::clamp(layer, 1, kLayerCount) - 1].highX;
}
double TCustomPlotvane::LayerLowY(int layer) const {
  return layers_[std::clamp(layer, 1, kLayerCount) - 1].shownLowY;
}
double TCustomPlotvane::LayerHighY(int layer) const {
  return layers_[std::clamp(layer, 1, kLayerCount) - 1].shownHighY;
}

void TCustomPlotvane::SetIsometric(bool v) {
  if (v == isometric_) return;
  isometric_ = v;
  applyRanges();
  Invalidate();
}

void TCustomPlotvane::applyRanges() {
  const int pw = plotBitmap_.Width(), ph = plotBitmap_.Height();
  for (LayerRange& r : layers_) {
    r.shownLowY = r.lowY;
    r.shownHighY = r.highY;
    if (isometric_ && pw > 1 && ph > 1) {
      // One unit as long on y as on x: the y span follows the plot's aspect.
      const double unitsPerPixel = std::fabs(r.highX - r.lowX) / (pw - 1);
      const double half = unitsPerPixel * (ph - 1) / 2;
      const double centre = (r.lowY + r.highY) / 2;
      const double sign = r.highY >= r.lowY ? 1 : -1;
      r.shownLowY = centre - sign * half;
      r.shownHighY = centre + sign * half;
    }
  }
  xScale_->SetRange(layers_[0].lowX, layers_[0].highX);
  yScale_->SetRange(layers_[0].shownLowY, layers_[0].shownHighY);
}

double TCustomPlotvane::PlotX(int layer, double x) const {
  if (layer <= 1 || layer > kLayerCount) return xScale_->RealPixel(x);
  const LayerRange& r = layers_[layer - 1];
  return (x - r.lowX) * (plotBitmap_.Width() - 1) / (r.highX - r.lowX);
}

double TCustomPlotvane::PlotY(int layer, double y) const {
  if (layer <= 1 || layer > kLayerCount) return yScale_->RealPixel(y);
  const LayerRange& r = layers_[layer - 1];
  return (r.shownHighY - y) * (plotBitmap_.Height() - 1) / (r.shownHighY - r.shownLowY);
}

// ---- appearance ----

void TCustomPlotvane::SetRims(int left, int top, int right, int bottom) {
  lRim_ = std::max(0, left);
  tRim_ = std::max(0, top);
  rRim_ = std::max(0, right);
  bRim_ = std::max(0, bottom);
  layoutBitmaps();
  Invalidate();
}

void TCustomPlotvane::SetShadowWidth(int v) {
  shadowWidth_ = std::max(0, v);
  layoutBitmaps();
  Invalidate();
}

void TCustomPlotvane::SetPlotColor(forms::TColor c) {
  plotColor_ = c;
  Invalidate();
}

void TCustomPlotvane::SetGridColor(forms::TColor c) {
  gridColor_ = c;
  Invalidate();
}

void TCustomPlotvane::SetShowGrid(bool v) {
  showGrid_ = v;
  Invalidate();
}

void TCustomPlotvane::SetShadowColor(forms::TColor c) {
  shadowColor_ = c;
  Invalidate();
}

void TCustomPlotvane::layoutBitmaps() {
  const int pw = std::max(0, Width() - lRim_ - rRim_ - shadowWidth_ + 1);
  const int ph = std::max(0, Height() - tRim_ - bRim_ - shadowWidth_ + 1);
  plotBitmap_.SetSize(pw, ph);
  controlBitmap_.SetSize(Width(), Height());
  // Scale pixels are plot-bitmap pixels: the scales are as long as the plot, without margins.
  xScale_->SetBounds(lRim_, tRim_ + ph, pw, std::max(0, Height() - tRim_ - ph));
  yScale_->SetBounds(0, tRim_, std::max(0, lRim_ - kMajorTickLength), ph);
  applyRanges();
}

void TCustomPlotvane::Resize() {
  forms::TCustomControl::Resize();
  layoutBitmaps();
}

// ---- rendering ----

void TCustomPlotvane::DrawBackground() {
  forms::TCanvas& canvas = plotBitmap_.Canvas();
  canvas.Brush.Color = plotColor_;
  canvas.Brush.Style = forms::bsSolid;
  canvas.FillRect({0, 0, plotBitmap_.Width(), plotBitmap_.Height()});
}

void TCustomPlotvane::RenderItems(forms::TCanvas& canvas, int dx, int dy, bool grid, bool colours) {
  const int pw = plotBitmap_.Width(), ph = plotBitmap_.Height();
  if (pw <= 0 || ph <= 0) return;
  cairo_t* cr = canvas.Handle();
  cairo_save(cr);
  cairo_rectangle(cr, dx, dy, pw, ph);
  cairo_clip(cr);
  cairo_translate(cr, dx, dy);

  if (grid && showGrid_) {
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, 1);
    forms::applyColor(cr, colours ? gridColor_ : forms::clSilver);
    for (int i = 1; i <= xScale_->NumTicks(); ++i) {
      const double x = std::round(xScale_->TickPos(i)) + 0.5;
      cairo_move_to(cr, x, 0);
      cairo_line_to(cr, x, ph);
    }
    for (int i = 1; i <= yScale_->NumTicks(); ++i) {
      const double y = std::round(yScale_->TickPos(i)) + 0.5;
      cairo_move_to(cr, 0, y);
      cairo_line_to(cr, pw, y);
    }
    cairo_stroke(cr);
    cairo_restore(cr);
  }

  const double left = -kClipMargin, top = -kClipMargin, right = pw + kClipMargin,
               bottom = ph + kClipMargin;
  const int count = std::min(itemCount_, ItemCapacity());
  double penX = 0, penY = 0;
  {
    ItemPainter painter(cr, {dx, dy, dx + pw, dy + ph});
    for (int i = 0; i < count; ++i) {
      const TChartItem& item = (*items_)[i];
      if (!classVisible_[item.ItemClass]) continue;
      const double x = PlotX(item.Layer, item.X), y = PlotY(item.Layer, item.Y);
      const forms::TColor color = colours ? item.Color : forms::clBlack;
      switch (item.Kind) {
        case kKindPenMove:
          penX = x;
          penY = y;
          break;
        case kKindLineTo: {
          double x0 = penX, y0 = penY, x1 = x, y1 = y;
          const int width = std::clamp<int>(item.LineWidth, 1, 255);
          if (clipSegment(x0, y0, x1, y1, left - width, top - width, right + width,
                          bottom + width)) {
            painter.line(x0, y0, x1, y1, color, width,
                         static_cast<forms::TPenStyle>(item.PenStyle));
          }
          penX = x;
          penY = y;
          break;
        }
        case kKindMark: {
          const int r = MarkRadius(item.MarkType) + 1;
          if (std::isfinite(x) && std::isfinite(y) && x >= -r && y >= -r && x <= pw + r &&
              y <= ph + r) {
            painter.stamp(x, y, item.MarkType, color);
          }
          break;
        }
        default:
          break;  // kinds no operation here creates
      }
    }
  }
  cairo_restore(cr);
}

void TCustomPlotvane::drawScales(forms::TCanvas& canvas) {
  yScale_->DrawOn(canvas, yScale_->Left(), yScale_->Top());
  xScale_->DrawOn(canvas, xScale_->Left(), xScale_->Top());
  // The y axis stands a tick's length left of the plot; join it to the x axis.
  const int yAxis = yScale_->Left() + yScale_->Width() - 1, xAxis = xScale_->Top();
  if (yAxis < lRim_ && plotBitmap_.Width() > 0 && plotBitmap_.Height() > 0) {
    cairo_t* cr = canvas.Handle();
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr, 1);
    forms::applyColor(cr, yScale_->ScaleColor());
    cairo_move_to(cr, yAxis, xAxis + 0.5);
    cairo_line_to(cr, lRim_, xAxis + 0.5);
    cairo_stroke(cr);
    cairo_restore(cr);
  }
}

void TCustomPlotvane::Paint() {
  forms::TCanvas& canvas = controlBitmap_.Canvas();
  canvas.Brush.Style = forms::bsSolid;
  canvas.Brush.Color = Color();
  canvas.FillRect({0, 0, Width(), Height()});
  const int pw = plotBitmap_.Width(), ph = plotBitmap_.Height();
  if (shadowWidth_ > 0) {
    canvas.Brush.Color = shadowColor_;
    canvas.FillRect({lRim_ + shadowWidth_, tRim_ + shadowWidth_, lRim_ + pw + shadowWidth_,
                     tRim_ + ph + shadowWidth_});
  }
  // Scales first: the grid follows the ticks they store.
  drawScales(canvas);
  DrawBackground();
  RenderItems(plotBitmap_.Canvas(), 0, 0, true, true);
  canvas.Draw(lRim_, tRim_, plotBitmap_);
  Canvas().Draw(0, 0, controlBitmap_);
}

}  // namespace arrowmap
