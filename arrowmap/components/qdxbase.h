// Shared pieces of the chart components: their exception class, the date/time
// label settings, calendar conversion of day numbers, and the data marks.
#pragma once

#include <cairo.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/forms/graphics.h"

namespace arrowmap {

class EQdxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TYearLength { ylNone, ylYY, ylYYYY };

// How date/time tick labels are written.
struct TDTLabel {
  TYearLength YearLength = ylYYYY;
  bool AmPm = false;  // hour ticks on a 12-hour clock with "am"/"pm"
  char DateSeparator = '.';
};

// Day numbers count days from 30 December 1899 (day 0); the fraction is the time of day.
struct TCivilDate {
  int Year = 1899, Month = 12, Day = 30;
};
TCivilDate CivilFromDayNumber(long long dayNumber);
long long DayNumberFromCivil(int year, int month, int day);

// Data marks: 48 pixel patterns, sixteen shapes in three sizes (radius 2, 3 and 5):
// 0 dot, 1 cross, 2 plus, 3 star, 4/5 square, 6/7 circle, 8/9 triangle up,
// 10/11 triangle down, 12/13 diamond (open/filled), 14 horizontal and 15 vertical bar.
// Type t has shape t % 16 and size t / 16; types outside 0..47 are drawn as type 0.
constexpr int kMarkTypeCount = 48;

int MarkRadius(int markType);

// The pixels of a mark as offsets from its centre pixel; computed once per type.
struct TMarkPixel {
  int dx, dy;
};
const std::vector<TMarkPixel>& MarkPixels(int markType);

// Writes mark `markType` in `color` straight into the pixels of a 24- or 32-bit image
// surface, centred on pixel (x, y) and clipped to `clip`. Marks are pixel patterns, and
// writing them is many times cheaper than a cairo operation per mark. Call
// cairo_surface_flush before and cairo_surface_mark_dirty after a run of stamps.
// Returns false for surfaces it cannot write.
bool StampDataMark(cairo_surface_t* surface, int x, int y, int markType, forms::TColor color,
                   const forms::TRect& clip);

// Draws one data mark onto a canvas, centred on the pixel that holds (x, y).
void DrawDataMark(forms::TCanvas& canvas, double x, double y, int markType, forms::TColor color);

}  // namespace arrowmap
