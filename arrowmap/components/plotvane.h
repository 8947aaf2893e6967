// The chart control: a display list of drawing items (pen moves, lines, marks)
// in world coordinates of 16 layers, drawn through the scales of their layer into
// an off-screen plot bitmap. Several charts can show one list.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "arrowmap/components/scale.h"
#include "platform/forms/forms.h"

namespace arrowmap {

// One element of the display list. Plain data: copied and cleared as memory, and
// a new element is all zeros.
struct TChartItem {
  double X = 0;
  double Y = 0;
  double X2 = 0, Y2 = 0;  // second point of shapes no operation here creates
  std::int32_t Color = 0;
  std::int32_t FillColor = 0, Color2 = 0, Color3 = 0;
  std::uint8_t PenStyle = 0;  // forms::TPenStyle
  std::int32_t Tag = 0;
  std::int32_t LineWidth = 0;
  std::uint8_t ItemClass = 0;
  std::uint8_t Kind = 0;
  std::int32_t Layer = 0;
  std::uint8_t MarkType = 0;
};

constexpr std::uint8_t kKindMark = 1;
constexpr std::uint8_t kKindLineTo = 3;
constexpr std::uint8_t kKindPenMove = 8;
constexpr int kKindCount = 15;
constexpr int kLayerCount = 16;
constexpr int kMaxSharers = 4;

inline constexpr char kMsgShareWithMyself[] = "Plotvane: Cannot share data with myself";
inline constexpr char kMsgForeignData[] =
    "Plotvane: Cannot use foreign data. Other Plotvanes are using my own data.";
inline constexpr char kMsgSharesExceeded[] = "Plotvane: Max. number of data shares exceeded";

using TChartItems = std::vector<TChartItem>;

class TCustomPlotvane : public forms::TCustomControl {
 public:
  explicit TCustomPlotvane(forms::TComponent* AOwner);
  // Leaves any sharing group: sharers of this chart keep their copy of the list.
  ~TCustomPlotvane() override;

  // ---- the display list ----
  void AddMarkItem(std::uint8_t markType, double x, double y);
  void AddPenLineItem(double x, double y);
  void AddPenMoveItem(double x, double y);
  // Empties the list and clears the off-screen plot image; the screen keeps its picture.
  void ClearItems();
  // Draws the list and puts it on the screen; asks sharing charts to repaint.
  void ShowItems();
  // Hands this chart's list to the chart it uses and every chart in its group.
  void PropagateSharedData();

  int ItemCount() const { return itemCount_; }
  // The allocated length of the item array.
  int ItemCapacity() const;
  const TChartItem& Item(int index) const { return items_->at(index); }
  // The array itself, shared by every chart of a sharing group (null when never allocated).
  const std::shared_ptr<TChartItems>& Items() const { return items_; }
  int LastShown() const { return lastShown_; }
  // Items of kind 0..14 added since the last ClearItems; 0 for other kinds.
  int KindCount(int kind) const;
  int DataLayer() const { return dataLayer_; }

  // Growth step of the array, 1..1000000; other values are ignored.
  int AllocSize() const { return allocSize_; }
  void SetAllocSize(int v);
  bool AutoRedraw() const { return autoRedraw_; }
  void SetAutoRedraw(bool v) { autoRedraw_ = v; }

  // Attributes that the next appended items take.
  forms::TColor DataColor() const { return dataColor_; }
  void SetDataColor(forms::TColor c) { dataColor_ = c; }
  forms::TPenStyle PenStyle() const { return penStyle_; }
  void SetPenStyle(forms::TPenStyle s) { penStyle_ = s; }
  std::uint8_t LineWidth() const { return lineWidth_; }
  void SetLineWidth(std::uint8_t w) { lineWidth_ = w; }
  std::uint8_t ClassDefault() const { return classDefault_; }
  void SetClassDefault(std::uint8_t c) { classDefault_ = c; }
  // Items of a switched-off class are not drawn. All classes are on at creation.
  bool ClassVisible(std::uint8_t itemClass) const { return classVisible_[itemClass]; }
  void SetClassVisible(std::uint8_t itemClass, bool on);

  // ---- data sharing ----
  TCustomPlotvane* UseDataOf() const { return useDataOf_; }
  void SetUseDataOf(TCustomPlotvane* other);
  int SharerCount() const { return sharerCount_; }
  TCustomPlotvane* Sharer(int index) const;  // 0-based
  // Paints when AutoRedraw is on or in design mode; otherwise does nothing.
  void RequestRepaint();

  // ---- layers and ranges ----
  // Layer 1..16 shows x from lowX to highX and y from lowY to highY. With Isometric
  // on, the y range is widened or narrowed about its centre so that one unit is
  // equally long on both axes of the plot. Repaints. Bad layers and empty ranges
  // are ignored.
  void SetLayerRange(int layer, double lowX, double lowY, double highX, double highY);
  double LayerLowX(int layer) const;
  double LayerHighX(int layer) const;
  double LayerLowY(int layer) const;
  double LayerHighY(int layer) const;
  bool Isometric() const { return isometric_; }
  void SetIsometric(bool v);
  // The scales that show layer 1: x below the plot, y left of it.
  TScale& XScale() { return *xScale_; }
  TScale& YScale() { return *yScale_; }
  // Pixel of a world point of `layer` in plot-bitmap coordinates (not rounded).
  double PlotX(int layer, double x) const;
  double PlotY(int layer, double y) const;

  // ---- appearance ----
  int LRim() const { return lRim_; }
  int RRim() const { return rRim_; }
  int TRim() const { return tRim_; }
  int BRim() const { return bRim_; }
  void SetRims(int left, int top, int right, int bottom);
  int ShadowWidth() const { return shadowWidth_; }
  void SetShadowWidth(int v);
  forms::TColor PlotColor() const { return plotColor_; }
  void SetPlotColor(forms::TColor c);
  forms::TColor GridColor() const { return gridColor_; }
  void SetGridColor(forms::TColor c);
  bool ShowGrid() const { return showGrid_; }
  void SetShowGrid(bool v);
  forms::TColor ShadowColor() const { return shadowColor_; }
  void SetShadowColor(forms::TColor c);

  // The off-screen image of the plot area, and of the whole control.
  const forms::TBitmap& PlotBitmap() const { return plotBitmap_; }
  const forms::TBitmap& ControlBitmap() const { return controlBitmap_; }

  // Draws the plot background into the plot bitmap.
  void DrawBackground();
  // Draws all items onto `canvas`, shifted by (dx, dy) pixels from plot-bitmap
  // coordinates; with `grid` the grid lines of layer 1 first; without `colours`
  // everything in black (for printing).
  void RenderItems(forms::TCanvas& canvas, int dx, int dy, bool grid, bool colours);

 protected:
  void Paint() override;
  void Resize() override;

 private:
  void append(std::uint8_t kind, double x, double y, std::uint8_t markType);
  // True when a chart outside this chart's sharing group still holds its array.
  bool arrayHeldOutsideGroup() const;
  void takeListOf(const TCustomPlotvane& source);
  void removeSharer(TCustomPlotvane* sharer);
  void layoutBitmaps();
  void applyRanges();
  void drawScales(forms::TCanvas& canvas);

  struct LayerRange {
    double lowX = -1, highX = 1, lowY = -1, highY = 1;  // as requested
    double shownLowY = -1, shownHighY = 1;              // after the isometric fit
  };

  std::shared_ptr<TChartItems> items_;
  int itemCount_ = 0;
  int allocSize_ = 1000;
  int lastShown_ = 0;
  std::array<int, kKindCount> kindCounts_{};
  int dataLayer_ = 1;
  forms::TColor dataColor_ = 0;
  forms::TPenStyle penStyle_ = forms::psSolid;
  std::uint8_t lineWidth_ = 1;
  std::uint8_t classDefault_ = 0;
  std::int32_t itemTag_ = 0;
  std::array<bool, 256> classVisible_;
  bool autoRedraw_ = true;

  TCustomPlotvane* useDataOf_ = nullptr;
  std::array<TCustomPlotvane*, kMaxSharers> sharers_{};
  int sharerCount_ = 0;

  std::array<LayerRange, kLayerCount> layers_{};
  bool isometric_ = false;
  TScale* xScale_ = nullptr;  // owned through the component tree
  TScale* yScale_ = nullptr;

  int lRim_ = 56, rRim_ = 12, tRim_ = 12, bRim_ = 34;
  int shadowWidth_ = 0;
  forms::TColor plotColor_ = forms::clWhite;
  forms::TColor gridColor_ = 0xE6E6E6;
  forms::TColor shadowColor_ = forms::clGray;
  bool showGrid_ = true;

  forms::TBitmap plotBitmap_;
  forms::TBitmap controlBitmap_;
};

// The chart as the application places it on a form.
class TPlotvane : public TCustomPlotvane {
 public:
  using TCustomPlotvane::TCustomPlotvane;
  void PenMoveTo(double x, double y) { AddPenMoveItem(x, y); }
  void PenLineTo(double x, double y) { AddPenLineItem(x, y); }
  void PlaceMark(std::uint8_t markType, double x, double y) { AddMarkItem(markType, x, y); }
};

}  // namespace arrowmap
