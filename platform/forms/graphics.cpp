// Canvas and bitmap of the forms toolkit, drawn with cairo.
#include "platform/forms/graphics.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/replacing_file.h"

namespace forms {
namespace {

// Cairo and fontconfig keep font caches for the life of the process. They are given
// back at exit so leak checkers see a clean process, but only when no bitmap is left
// that might still draw (a bitmap freed by a later static destructor).
int g_liveBitmaps = 0;

void releaseFontCaches() {
  if (g_liveBitmaps != 0) return;
  cairo_debug_reset_static_data();
  FcFini();
}

// Pixels per point at 96 dots per inch.
constexpr double kPixelsPerPoint = 96.0 / 72.0;

// Coordinates of a line of width `w` through pixel centres.
double centred(double v, int w) { return (w % 2 == 1 || w <= 0) ? v + 0.5 : v; }

// The PNG goes through our own stream so that a failed write leaves its errno as the reason.
cairo_status_t writePngBytes(void* file, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(file)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}

// Keeps the canvas' callers free of cairo state leaks.
class SavedState {
 public:
  explicit SavedState(cairo_t* cr) : cr_(cr) { cairo_save(cr_); }
  ~SavedState() { cairo_restore(cr_); }
  SavedState(const SavedState&) = delete;
  SavedState& operator=(const SavedState&) = delete;

 private:
  cairo_t* cr_;
};

}  // namespace

void applyColor(cairo_t* cr, TColor color) {
  cairo_set_source_rgb(cr, redOf(color) / 255.0, greenOf(color) / 255.0, blueOf(color) / 255.0);
}

bool applyPen(cairo_t* cr, const TPen& pen) {
  if (pen.Style == psClear) return false;
  applyColor(cr, pen.Color);
  const double w = std::max(1, pen.Width);
  cairo_set_line_width(cr, w);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  // Dashes scale with the width so thick dashed lines keep their rhythm.
  const double dash[] = {3 * w, 1 * w};
  const double dot[] = {1 * w, 1 * w};
  const double dashDot[] = {3 * w, 1 * w, 1 * w, 1 * w};
  const double dashDotDot[] = {3 * w, 1 * w, 1 * w, 1 * w, 1 * w, 1 * w};
  // Lines of odd width start on a pixel centre; half a pixel of offset puts the dash
  // ends on pixel edges, so straight dashes stay crisp.
  const double offset = static_cast<int>(w) % 2 == 1 ? 0.5 : 0;
  switch (pen.Style) {
    case psDash:
      cairo_set_dash(cr, dash, 2, offset);
      break;
    case psDot:
      cairo_set_dash(cr, dot, 2, offset);
      break;
    case psDashDot:
      cairo_set_dash(cr, dashDot, 4, offset);
      break;
    case psDashDotDot:
      cairo_set_dash(cr, dashDotDot, 6, offset);
      break;
    default:
      cairo_set_dash(cr, nullptr, 0, 0);
      break;
  }
  return true;
}

// ---- TCanvas ----

TCanvas::TCanvas(cairo_surface_t* surface) : cr_(cairo_create(surface)) {}

TCanvas::~TCanvas() { cairo_destroy(cr_); }

void TCanvas::SetAntiAlias(bool on) {
  antiAlias_ = on;
  cairo_set_antialias(cr_, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void TCanvas::MoveTo(double x, double y) {
  penX_ = x;
  penY_ = y;
}

void TCanvas::LineTo(double x, double y) {
  SavedState saved(cr_);
  if (applyPen(cr_, Pen)) {
    cairo_move_to(cr_, centred(penX_, Pen.Width), centred(penY_, Pen.Width));
    cairo_line_to(cr_, centred(x, Pen.Width), centred(y, Pen.Width));
    cairo_stroke(cr_);
  }
  penX_ = x;
  penY_ = y;
}

void TCanvas::FillRect(const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0 || Brush.Style == bsClear) return;
  SavedState saved(cr_);
  applyColor(cr_, Brush.Color);
  cairo_rectangle(cr_, r.Left, r.Top, r.Width(), r.Height());
  cairo_fill(cr_);
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
  FillRect({left, top, right, bottom});
  if (right - left <= 0 || bottom - top <= 0) return;
  SavedState saved(cr_);
  if (applyPen(cr_, Pen)) {
    const double inset = Pen.Width / 2.0;
    cairo_rectangle(cr_, left + inset, top + inset, right - left - Pen.Width,
                    bottom - top - Pen.Width);
    cairo_stroke(cr_);
  }
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
  const double w = right - left, h = bottom - top;
  if (w <= 0 || h <= 0) return;
  SavedState saved(cr_);
  cairo_translate(cr_, left + w / 2, top + h / 2);
  cairo_scale(cr_, w / 2, h / 2);
  cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
  cairo_identity_matrix(cr_);
  if (Brush.Style != bsClear) {
    applyColor(cr_, Brush.Color);
    cairo_fill_preserve(cr_);
  }
  if (applyPen(cr_, Pen)) cairo_stroke(cr_);
  cairo_new_path(cr_);
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  SavedState saved(cr_);
  for (const TPoint& p : points) cairo_line_to(cr_, p.X + 0.5, p.Y + 0.5);
  cairo_close_path(cr_);
  if (Brush.Style != bsClear) {
    applyColor(cr_, Brush.Color);
    cairo_fill_preserve(cr_);
  }
  if (applyPen(cr_, Pen)) cairo_stroke(cr_);
  cairo_new_path(cr_);
}

void TCanvas::applyFont() {
  cairo_select_font_face(cr_, Font.Name.c_str(), CAIRO_FONT_SLANT_NORMAL,
                         Font.Bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, std::max(1, Font.Size) * kPixelsPerPoint);
}

int TCanvas::TextWidth(const std::string& text) {
  SavedState saved(cr_);
  applyFont();
  cairo_text_extents_t extents;
  cairo_text_extents(cr_, text.c_str(), &extents);
  return static_cast<int>(std::ceil(extents.x_advance));
}

int TCanvas::TextHeight(const std::string&) {
  SavedState saved(cr_);
  applyFont();
  cairo_font_extents_t extents;
  cairo_font_extents(cr_, &extents);
  return static_cast<int>(std::ceil(extents.ascent + extents.descent));
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  if (text.empty()) return;
  SavedState saved(cr_);
  applyFont();
  cairo_font_extents_t font;
  cairo_font_extents(cr_, &font);
  if (Brush.Style != bsClear) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text.c_str(), &extents);
    applyColor(cr_, Brush.Color);
    cairo_rectangle(cr_, x, y, std::ceil(extents.x_advance), std::ceil(font.ascent + font.descent));
    cairo_fill(cr_);
  }
  applyColor(cr_, Font.Color);
  cairo_move_to(cr_, x, y + std::round(font.ascent));
  cairo_show_text(cr_, text.c_str());
  cairo_new_path(cr_);
}

void TCanvas::Draw(int x, int y, const TBitmap& source) {
  if (source.Width() <= 0 || source.Height() <= 0) return;
  SavedState saved(cr_);
  cairo_surface_flush(source.Surface());
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr_, source.Surface(), x, y);
  cairo_rectangle(cr_, x, y, source.Width(), source.Height());
  cairo_fill(cr_);
}

// ---- TBitmap ----

TBitmap::TBitmap(int width, int height) { create(width, height); }

TBitmap::~TBitmap() { destroy(); }

void TBitmap::create(int width, int height) {
  static const bool cleanupRegistered = std::atexit(releaseFontCaches) == 0;
  (void)cleanupRegistered;
  ++g_liveBitmaps;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
  canvas_ = new TCanvas(surface_);
  cairo_t* cr = canvas_->Handle();
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
}

void TBitmap::destroy() {
  if (surface_) --g_liveBitmaps;
  delete canvas_;
  canvas_ = nullptr;
  if (surface_) cairo_surface_destroy(surface_);
  surface_ = nullptr;
}

void TBitmap::SetSize(int width, int height) {
  const bool antiAlias = canvas_->AntiAlias();
  destroy();
  create(width, height);
  canvas_->SetAntiAlias(antiAlias);
}

TColor TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clBlack;
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  if (!data) return clBlack;
  const int stride = cairo_image_surface_get_stride(surface_);
  std::uint32_t argb;
  std::copy_n(data + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4, 4,
              reinterpret_cast<unsigned char*>(&argb));
  return rgb((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

bool TBitmap::SaveToPNG(const std::string& path, std::string* reason) const {
  auto fail = [&](std::string why) {
    if (reason) *reason = std::move(why);
    return false;
  };
  if (width_ <= 0 || height_ <= 0) return fail("the picture is empty");
  cairo_surface_flush(surface_);
  platform::ReplacingFile file(path);
  if (!file.valid()) return fail(file.error());
  std::FILE* out = std::fopen(file.temporaryPath().c_str(), "wb");
  if (!out) return fail("cannot write " + file.temporaryPath() + ": " + std::strerror(errno));
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface_, writePngBytes, out);
  int error = status != CAIRO_STATUS_SUCCESS ? errno : 0;
  // fclose writes the last buffered bytes, so its failure is a failed write too.
  if (std::fclose(out) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (status != CAIRO_STATUS_SUCCESS || error != 0) {
    return fail("cannot write " + file.targetPath() + ": " +
                (error != 0 ? std::strerror(error) : cairo_status_to_string(status)));
  }
  if (!file.commit()) return fail(file.error());
  return true;
}

}  // namespace forms
