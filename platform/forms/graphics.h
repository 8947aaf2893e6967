// Drawing for the forms toolkit: colours, pens, brushes, fonts, an off-screen
// bitmap and the canvas that draws into it. Everything is drawn with cairo onto a
// 24-bit image surface; a bitmap can be written out as a PNG file.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace forms {

// A colour as 0x00BBGGRR (red in the low byte).
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = 0xF0F0F0;

constexpr int redOf(TColor c) { return c & 0xFF; }
constexpr int greenOf(TColor c) { return (c >> 8) & 0xFF; }
constexpr int blueOf(TColor c) { return (c >> 16) & 0xFF; }
constexpr TColor rgb(int r, int g, int b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

enum TPenStyle : std::uint8_t {
  psSolid,
  psDash,
  psDot,
  psDashDot,
  psDashDotDot,
  psClear,
  psInsideFrame
};
enum TBrushStyle : std::uint8_t { bsSolid, bsClear };

struct TPoint {
  int X = 0, Y = 0;
};

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;  // Right and Bottom exclusive
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

struct TFont {
  std::string Name = "DejaVu Sans";
  int Size = 8;  // points at 96 dots per inch
  TColor Color = clBlack;
  bool Bold = false;
};

// Applies the pen's colour, width and dash pattern to `cr`; false for psClear.
bool applyPen(cairo_t* cr, const TPen& pen);
void applyColor(cairo_t* cr, TColor color);

class TBitmap;

// Draws into one bitmap. Integer coordinates name pixels: (0, 0) is the top-left
// pixel, and lines of odd width run through pixel centres so they stay crisp.
class TCanvas {
 public:
  TPen Pen;
  TBrush Brush;
  TFont Font;

  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  void SetAntiAlias(bool on);
  bool AntiAlias() const { return antiAlias_; }

  void MoveTo(double x, double y);
  // A line with the pen from the pen position to (x, y); the pen moves there.
  void LineTo(double x, double y);
  double PenPosX() const { return penX_; }
  double PenPosY() const { return penY_; }

  // Fills with the brush (inside `r`, right and bottom exclusive).
  void FillRect(const TRect& r);
  // Fills with the brush and frames with the pen; right and bottom exclusive.
  void Rectangle(int left, int top, int right, int bottom);
  void Ellipse(int left, int top, int right, int bottom);
  void Polygon(const std::vector<TPoint>& points);
  // Writes `text` with its top-left corner at (x, y) in the font's colour; the
  // brush fills the text's box first unless its style is bsClear.
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  // Copies `source` unscaled with its top-left corner at (x, y), clipped to this bitmap.
  void Draw(int x, int y, const TBitmap& source);

  // The cairo context, for components that batch many shapes into one path. Its
  // state is saved and restored around every call above, so callers leave it as found.
  cairo_t* Handle() { return cr_; }

 private:
  friend class TBitmap;
  explicit TCanvas(cairo_surface_t* surface);
  ~TCanvas();
  void applyFont();

  cairo_t* cr_ = nullptr;
  bool antiAlias_ = true;
  double penX_ = 0, penY_ = 0;
};

// An off-screen 24-bit bitmap with its canvas. A new or resized bitmap is white.
class TBitmap {
 public:
  TBitmap(int width = 0, int height = 0);
  ~TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Negative sizes count as 0. The content is lost.
  void SetSize(int width, int height);
  TCanvas& Canvas() { return *canvas_; }

  // Colour of a pixel; clBlack outside the bitmap.
  TColor Pixel(int x, int y) const;
  // Writes the bitmap as a PNG file at `path` (as the programs name it: Windows paths are
  // mapped). The old file is replaced only by a complete picture. False when it cannot be
  // written (or the bitmap is empty), with the reason in `reason` when given.
  bool SaveToPNG(const std::string& path, std::string* reason = nullptr) const;

  cairo_surface_t* Surface() const { return surface_; }

 private:
  void create(int width, int height);
  void destroy();

  int width_ = 0, height_ = 0;
  cairo_surface_t* surface_ = nullptr;
  TCanvas* canvas_ = nullptr;
};

}  // namespace forms
