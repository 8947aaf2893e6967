// Shared pieces of the chart components: their exception class, the date/time
// label settings, calendar conversion of day numbers, and the drawing of frames
// and data marks.
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
  bool AmPm = false;        // hour ticks on a 12-hour clock with "am"/"pm"
  char DateSeparator = '.';
};

// Day numbers count days from 30 December 1899 (day 0); the fraction is the time of day.
struct TCivilDate {
  int Year = 1899, Month = 12, Day = 30;
};
TCivilDate CivilFromDayNumber(long long dayNumber);
long long DayNumberFromCivil(int year, int month, int day);

// Data marks: 48 shapes in three sizes of sixteen. Shape 0 is a small dot, 1 a
// small cross; then plus, x, squares, circles, triangles and diamonds.
constexpr int kMarkTypeCount = 48;

// Adds the outline of mark `markType` centred on pixel (x, y) to the current path of
// `cr`. Returns true when the shape is to be filled, false when it is to be stroked
// (a one-pixel pen). Mark types outside 0..47 are drawn as type 0.
bool AddMarkPath(cairo_t* cr, double x, double y, int markType);
// Half the width of the mark's box in pixels, for clipping.
int MarkRadius(int markType);

// The pixels of mark `markType` as offsets from its centre pixel, exactly as the
// outline above is drawn without anti-aliasing; computed once per type.
struct TMarkPixel {
  int dx, dy;
};
const std::vector<TMarkPixel>& MarkPixels(int markType);

// Writes mark `markType` in `color` straight into the pixels of a 24- or 32-bit image
// surface, centred on pixel (x, y) and clipped to `clip`; much cheaper than a cairo
// fill or stroke per mark. Call cairo_surface_flush before and cairo_surface_mark_dirty
// after a run of stamps. Returns false for surfaces it cannot write.
bool StampDataMark(cairo_surface_t* surface, int x, int y, int markType, forms::TColor color,
                   const forms::TRect& clip);

// Draws one data mark with its own colour.
void DrawDataMark(forms::TCanvas& canvas, double x, double y, int markType, forms::TColor color);

// A sunken (or raised) 3-D frame of `width` pixels just inside `r`.
void DrawFrame(forms::TCanvas& canvas, const forms::TRect& r, int width, bool sunken);

}  // namespace arrowmap
