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

namespace {

bool markCovers(int shape, int r, int dx, int dy) {
  const int ax = std::abs(dx), ay = std::abs(dy);
  const int box = std::max(ax, ay);
  if (box > r) return false;
  // Triangles: the apex row holds one pixel, every second row widens by one on each side.
  const int upRow = dy + r, downRow = r - dy;
  switch (shape) {
    case 0:
      return box <= r - 1;
    case 1:
      return ax == ay;
    case 2:
      return ax == 0 || ay == 0;
    case 3:
      return ax == 0 || ay == 0 || ax == ay;
    case 4:
      return box == r;
    case 5:
      return true;
    case 6:
      return std::lround(std::sqrt(double(dx * dx + dy * dy))) == r;
    case 7:
      return dx * dx + dy * dy <= r * r + r / 2;
    case 8:
      return ax <= upRow / 2 && (ax == upRow / 2 || dy == r);
    case 9:
      return ax <= upRow / 2;
    case 10:
      return ax <= downRow / 2 && (ax == downRow / 2 || dy == -r);
    case 11:
      return ax <= downRow / 2;
    case 12:
      return ax + ay == r;
    case 13:
      return ax + ay <= r;
    case 14:
      return ay == 0;
    default:
      return ax == 0;  // 15
  }
}

}  // namespace

const std::vector<TMarkPixel>& MarkPixels(int markType) {
  if (markType < 0 || markType >= kMarkTypeCount) markType = 0;
  static const auto table = [] {
    std::vector<std::vector<TMarkPixel>> pixels(kMarkTypeCount);
    for (int type = 0; type < kMarkTypeCount; ++type) {
      const int r = MarkRadius(type);
      for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
          if (markCovers(type % 16, r, dx, dy)) pixels[type].push_back({dx, dy});
        }
      }
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
  const std::uint32_t pixel = 0xFF000000u |
                              (static_cast<std::uint32_t>(forms::redOf(color)) << 16) |
                              (static_cast<std::uint32_t>(forms::greenOf(color)) << 8) |
                              static_cast<std::uint32_t>(forms::blueOf(color));
  for (const TMarkPixel& p : MarkPixels(markType)) {
    const int px = x + p.dx, py = y + p.dy;
    if (px < left || py < top || px >= right || py >= bottom) continue;
    std::memcpy(data + static_cast<std::size_t>(py) * stride + static_cast<std::size_t>(px) * 4,
                &pixel, 4);
  }
  return true;
}

void DrawDataMark(forms::TCanvas& canvas, double x, double y, int markType, forms::TColor color) {
  if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 1e9 || std::fabs(y) > 1e9) return;
  cairo_surface_t* target = cairo_get_target(canvas.Handle());
  cairo_surface_flush(target);
  StampDataMark(
      target, static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)), markType, color,
      {0, 0, cairo_image_surface_get_width(target), cairo_image_surface_get_height(target)});
  cairo_surface_mark_dirty(target);
}

}  // namespace arrowmap
