// Calendar conversion, data marks and frames of the chart components.
#include "arrowmap/components/qdxbase.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace arrowmap {
namespace {

// Days from 1 March of year 0 (proleptic Gregorian) to 30 December 1899.
constexpr long long kDayZeroFromEpoch = 693899;

}  // namespace

TCivilDate CivilFromDayNumber(long long dayNumber) {
  // Count from 1 March of year 0, in 400-year eras of 146097 days.
  const long long z = dayNumber + kDayZeroFromEpoch;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  TCivilDate date;
  date.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  date.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  date.Year = static_cast<int>(yoe + era * 400 + (date.Month <= 2 ? 1 : 0));
  return date;
}

long long DayNumberFromCivil(int year, int month, int day) {
  const long long y = static_cast<long long>(year) - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long mp = month > 2 ? month - 3 : month + 9;
  const long long doy = (153 * mp + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - kDayZeroFromEpoch;
}

int MarkRadius(int markType) {
  if (markType < 0 || markType >= kMarkTypeCount) markType = 0;
  static constexpr int kRadius[3] = {2, 3, 5};
  return kRadius[markType / 16];
}

bool AddMarkPath(cairo_t* cr, double x, double y, int markType) {
  if (markType < 0 || markType >= kMarkTypeCount) markType = 0;
  const int shape = markType % 16;
  const double r = MarkRadius(markType);
  // Centre of the pixel, so one-pixel strokes stay crisp.
  const double cx = std::floor(x) + 0.5, cy = std::floor(y) + 0.5;
  switch (shape) {
    case 0:  // dot: a filled square, 3, 5 or 9 pixels wide
      cairo_rectangle(cr, cx - r + 0.5, cy - r + 0.5, 2 * r - 1, 2 * r - 1);
      return true;
    case 1:  // small cross
      cairo_move_to(cr, cx - r, cy - r);
      cairo_line_to(cr, cx + r, cy + r);
      cairo_move_to(cr, cx - r, cy + r);
      cairo_line_to(cr, cx + r, cy - r);
      return false;
    case 2:  // plus
      cairo_move_to(cr, cx - r - 0.5, cy);
      cairo_line_to(cr, cx + r + 0.5, cy);
      cairo_move_to(cr, cx, cy - r - 0.5);
      cairo_line_to(cr, cx, cy + r + 0.5);
      return false;
    case 3:  // star: plus and cross
      cairo_move_to(cr, cx - r - 0.5, cy);
      cairo_line_to(cr, cx + r + 0.5, cy);
      cairo_move_to(cr, cx, cy - r - 0.5);
      cairo_line_to(cr, cx, cy + r + 0.5);
      cairo_move_to(cr, cx - r, cy - r);
      cairo_line_to(cr, cx + r, cy + r);
      cairo_move_to(cr, cx - r, cy + r);
      cairo_line_to(cr, cx + r, cy - r);
      return false;
    case 4:  // open square
    case 5:  // filled square
      cairo_rectangle(cr, cx - r, cy - r, 2 * r, 2 * r);
      return shape == 5;
    case 6:  // open circle
    case 7:  // filled circle
      cairo_new_sub_path(cr);
      cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
      return shape == 7;
    case 8:  // open triangle pointing up
    case 9:
      cairo_move_to(cr, cx, cy - r);
      cairo_line_to(cr, cx + r, cy + r);
      cairo_line_to(cr, cx - r, cy + r);
      cairo_close_path(cr);
      return shape == 9;
    case 10:  // triangle pointing down
    case 11:
      cairo_move_to(cr, cx, cy + r);
      cairo_line_to(cr, cx + r, cy - r);
      cairo_line_to(cr, cx - r, cy - r);
      cairo_close_path(cr);
      return shape == 11;
    case 12:  // diamond
    case 13:
      cairo_move_to(cr, cx, cy - r);
      cairo_line_to(cr, cx + r, cy);
      cairo_line_to(cr, cx, cy + r);
      cairo_line_to(cr, cx - r, cy);
      cairo_close_path(cr);
      return shape == 13;
    case 14:  // horizontal bar
      cairo_move_to(cr, cx - r - 0.5, cy);
      cairo_line_to(cr, cx + r + 0.5, cy);
      return false;
    default:  // 15: vertical bar
      cairo_move_to(cr, cx, cy - r - 0.5);
      cairo_line_to(cr, cx, cy + r + 0.5);
      return false;
  }
}

const std::vector<TMarkPixel>& MarkPixels(int markType) {
  if (markType < 0 || markType >= kMarkTypeCount) markType = 0;
  static const auto table = [] {
    std::vector<std::vector<TMarkPixel>> pixels(kMarkTypeCount);
    for (int type = 0; type < kMarkTypeCount; ++type) {
      const int r = MarkRadius(type) + 2;
      const int size = 2 * r + 1;
      cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, size, size);
      cairo_t* cr = cairo_create(mask);
      cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
      cairo_set_line_width(cr, 1);
      if (AddMarkPath(cr, r, r, type)) {
        cairo_fill(cr);
      } else {
        cairo_stroke(cr);
      }
      cairo_destroy(cr);
      cairo_surface_flush(mask);
      const unsigned char* data = cairo_image_surface_get_data(mask);
      const int stride = cairo_image_surface_get_stride(mask);
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          if (data[y * stride + x] >= 128) pixels[type].push_back({x - r, y - r});
        }
      }
      cairo_surface_destroy(mask);
    }
    return pixels;
  }();
  return table[markType];
}

bool StampDataMark(cairo_surface_t* surface, int x, int y, int markType, forms::TColor color,
                   const forms::TRect& clip) {
  if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return false;
  const cairo_format_t format = cairo_image_surface_get_format(surface);
  if (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32) return false;
  unsigned char* data = cairo_image_surface_get_data(surface);
  if (!data) return false;
  const int stride = cairo_image_surface_get_stride(surface);
  const int left = std::max(0, clip.Left), top = std::max(0, clip.Top);
  const int right = std::min(clip.Right, cairo_image_surface_get_width(surface));
  const int bottom = std::min(clip.Bottom, cairo_image_surface_get_height(surface));
  const std::uint32_t pixel = 0xFF000000u | (static_cast<std::uint32_t>(forms::redOf(color)) << 16) |
                              (static_cast<std::uint32_t>(forms::greenOf(color)) << 8) |
                              static_cast<std::uint32_t>(forms::blueOf(color));
  for (const TMarkPixel& p : MarkPixels(markType)) {
    const int px = x + p.dx, py = y + p.dy;
    if (px < left || py < top || px >= right || py >= bottom) continue;
    std::memcpy(data + static_cast<std::size_t>(py) * stride + static_cast<std::size_t>(px) * 4, &pixel, 4);
  }
  return true;
}

void DrawDataMark(forms::TCanvas& canvas, double x, double y, int markType, forms::TColor color) {
  cairo_t* cr = canvas.Handle();
  cairo_save(cr);
  forms::applyColor(cr, color);
  cairo_set_line_width(cr, 1);
  cairo_new_path(cr);
  if (AddMarkPath(cr, x, y, markType)) {
    cairo_fill(cr);
  } else {
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

void DrawFrame(forms::TCanvas& canvas, const forms::TRect& r, int width, bool sunken) {
  const forms::TColor dark = forms::clGray, light = forms::clWhite;
  cairo_t* cr = canvas.Handle();
  cairo_save(cr);
  cairo_set_line_width(cr, 1);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (int i = 0; i < width; ++i) {
    const double l = r.Left + i + 0.5, t = r.Top + i + 0.5;
    const double rr = r.Right - i - 0.5, b = r.Bottom - i - 0.5;
    if (rr <= l || b <= t) break;
    forms::applyColor(cr, sunken ? dark : light);
    cairo_move_to(cr, l, b);
    cairo_line_to(cr, l, t);
    cairo_line_to(cr, rr, t);
    cairo_stroke(cr);
    forms::applyColor(cr, sunken ? light : dark);
    cairo_move_to(cr, rr, t);
    cairo_line_to(cr, rr, b);
    cairo_line_to(cr, l, b);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

}  // namespace arrowmap
