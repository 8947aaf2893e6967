// Tick steps, tick positions, labels and the value-to-pixel mapping of TScale.
#include "arrowmap/components/scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "arrowmap/components/math1.h"
#include "arrowmap/components/qdxbase.h"

namespace arrowmap {
namespace {

std::vector<std::string> majorLabels(const TScaleLayout& layout) {
  std::vector<std::string> labels;
  for (const TScaleTick& t : layout.Ticks) {
    if (t.Major) labels.push_back(t.Label);
  }
  return labels;
}

std::vector<double> tickValues(const TScaleLayout& layout, bool major) {
  std::vector<double> values;
  for (const TScaleTick& t : layout.Ticks) {
    if (t.Major == major) values.push_back(t.Value);
  }
  return values;
}

// A horizontal scale 101 pixels wide without margins: one pixel per hundredth of the range.
struct ScaleFixture {
  TScale scale{nullptr};
  explicit ScaleFixture(double low, double high, int minTicks = 3) {
    scale.SetBounds(0, 0, 101, 30);
    scale.SetMinTicks(minTicks);
    scale.SetRange(low, high);
  }
};

TEST(TickStepsTest, PicksOneTwoOrFiveTimesAPowerOfTen) {
  struct Case {
    int minTicks;
    double high, low;
    double first, step;
    int minor;
  };
  const Case cases[] = {
      {3, 10, 0, 0, 2, 4},      {3, 0, 10, 10, -2, 4},       {2, 1, 0, 0, 0.5, 5},
      {5, 100, 0, 0, 20, 4},    {4, 7.3, -3.1, -2, 2, 4},    {3, 1e-3, 0, 0, 2e-4, 4},
      {10, 1000, 0, 0, 100, 5}, {2, 1, 0.95, 0.96, 0.02, 4}, {3, -1, -10, -10, 2, 4},
      {10, 1, 0, 0, 0.1, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minTicks << " ticks over " << c.low << ".." << c.high);
    double first = 0, step = 0;
    int minor = 0;
    ASSERT_TRUE(TickSteps(c.minTicks, c.high, c.low, first, step, minor));
    EXPECT_NEAR(first, c.first, 1e-12);
    EXPECT_NEAR(step, c.step, 1e-15);
    EXPECT_EQ(minor, c.minor);
  }
  double first = 7, step = 7;
  int minor = 7;
  EXPECT_FALSE(TickSteps(3, 5, 5, first, step, minor));
  EXPECT_FALSE(TickSteps(3, NAN, 0, first, step, minor));
  EXPECT_FALSE(TickSteps(3, 1e308, -1e308, first, step, minor));
  EXPECT_EQ(first, 7);
}

TEST(ScaleTicksTest, ZeroToTenWithThreeTicksStepsByTwo) {
  ScaleFixture f(0, 10);
  f.scale.SetDecPlaces(0);
  f.scale.SetShortTicks(true);
  const TScaleLayout layout = f.scale.Layout();
  EXPECT_EQ(majorLabels(layout), (std::vector<std::string>{"0", "2", "4", "6", "8", "10"}));
  // Four minor intervals per step: three minor ticks between majors, none on them.
  const std::vector<double> minors = tickValues(layout, false);
  ASSERT_EQ(minors.size(), 15u);
  for (double v : minors) {
    EXPECT_GT(v, 0);
    EXPECT_LT(v, 10);
    EXPECT_GT(std::fabs(std::remainder(v, 2.0)), 0.1) << v;
  }
  EXPECT_EQ(layout.Ticks.front().Pixel, 0);
  EXPECT_EQ(layout.Ticks[5].Pixel, 100);

  f.scale.SetDecPlaces(-2);  // automatic: one decimal for a range of 10
  EXPECT_EQ(majorLabels(f.scale.Layout()).front(), "0.0");
  EXPECT_EQ(majorLabels(f.scale.Layout()).back(), "10.0");
}

TEST(ScaleTicksTest, ReversedRangeRunsDownFromTheLowEnd) {
  ScaleFixture f(10, 0);
  f.scale.SetDecPlaces(0);
  f.scale.SetShortTicks(false);
  const TScaleLayout layout = f.scale.Layout();
  EXPECT_EQ(majorLabels(layout), (std::vector<std::string>{"10", "8", "6", "4", "2", "0"}));
  EXPECT_EQ(layout.Ticks.front().Pixel, 0);
  EXPECT_EQ(layout.Ticks.back().Pixel, 100);
}

TEST(ScaleTicksTest, AutomaticDecimalPlacesFollowTheRange) {
  struct Case {
    double low, high;
    int decPlaces;
    int expected;
  };
  const Case cases[] = {
      {0, 1e6, -2, -1}, {0, 1e-4, -2, -1}, {0, 100, -2, 0},    {0, 99, -3, 0},
      {0, 10, -2, 1},   {5, 6, -2, 2},     {0, 0.01, -2, 4},   {0, 0.001, -2, 5},
      {0, 10, 3, 3},    {0, 10, -1, -1},   {-500, 500, -2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.low << ".." << c.high << " dec " << c.decPlaces);
    ScaleFixture f(c.low, c.high);
    f.scale.SetDecPlaces(c.decPlaces);
    EXPECT_EQ(f.scale.EffectiveDecPlaces(), c.expected);
  }
}

TEST(ScaleLabelsTest, NumberLabels) {
  struct Case {
    double value;
    int decPlaces;
    double range;
    const char* expected;
  };
  const Case cases[] = {
      {2.5, 1, 10, "2.5"},
      {-2.6, 0, 10, "-3"},
      {0, 2, 10, "0.00"},
      {1e-16, 2, 10, "0.00"},  // rounding noise below 1e-14 of the range is zero
      {-1e-16, 1, 10, "0.0"},  // without a minus sign
      {1e-10, 0, 1e6, "0"},
      {1e-10, -1, 1e7, "0.0"},
      {1e-10, 2, 1e7, "0.0"},
      {250000, -1, 1e6, "2.50E+5"},
      {-3e-5, -1, 1e-4, "-3.00E-5"},
      {1.5e12, -1, 1e13, "*******"},  // a two-digit exponent does not fit
      {-1.5e-20, -1, 1e-19, "********"},
      {123456789012345.0, 2, 1e15, "12345678901234"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " with " << c.decPlaces);
    EXPECT_EQ(NumberLabel(c.value, c.decPlaces, c.range), c.expected);
  }
}

TEST(ScaleLabelsTest, InscriptsAndUserTexts) {
  struct Case {
    const char* label;
    const char* inscript;
    const char* expected;
  };
  const Case cases[] = {
      {"5", "& m", "5 m"}, {"5", " kg", "5 kg"}, {"5", "[&]", "[5]"},
      {"5", "", "5"},      {"", "& m", ""},      {"", "Hz", "Hz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.label << "\" in \"" << c.inscript << '"');
    EXPECT_EQ(ApplyInscript(c.label, c.inscript), c.expected);
  }

  ScaleFixture f(0, 10);
  f.scale.SetLabelType(ftUserText);
  f.scale.SetUserTickText("a|b||d");
  f.scale.SetScaleInscript("<&>");
  EXPECT_EQ(majorLabels(f.scale.Layout()),
            (std::vector<std::string>{"<a>", "<b>", "", "<d>", "", ""}));

  f.scale.SetLabelType(ftNoFigs);
  for (const std::string& label : majorLabels(f.scale.Layout())) EXPECT_EQ(label, "");
}

TEST(ScaleTicksTest, StoresFiftyTicksAndDrawsTheRest) {
  ScaleFixture f(0, 1000, 10);  // 11 major and 40 minor ticks
  f.scale.SetShortTicks(true);
  EXPECT_EQ(f.scale.Layout().Ticks.size(), 51u);
  f.scale.Repaint();
  EXPECT_EQ(f.scale.NumTicks(), 50);
  EXPECT_EQ(f.scale.TickPos(1), 0);     // the first major tick sits on pixel 0
  EXPECT_EQ(f.scale.TickPos(11), 100);  // the last major tick
  EXPECT_NE(f.scale.TickPos(50), 0);
  EXPECT_EQ(f.scale.TickPos(51), 0);
  EXPECT_EQ(f.scale.TickPos(0), 0);
  // Every paint starts the table afresh.
  f.scale.SetShortTicks(false);
  f.scale.Repaint();
  EXPECT_EQ(f.scale.NumTicks(), 11);
}

TEST(ScaleMappingTest, ValuesToPixels) {
  struct Case {
    TScaleType type;
    bool logarithmic;
    double low, high, value;
    int expected;
  };
  const Case cases[] = {
      {sctXB, false, 0, 10, 5, 50},
      {sctXB, false, 0, 10, 0, 0},
      {sctXT, false, 0, 10, 10, 100},
      {sctYL, false, 0, 10, 10, 0},
      {sctYR, false, 0, 10, 0, 100},
      {sctYL, false, 0, 10, 2.5, 75},
      {sctXB, false, 10, 0, 10, 0},
      {sctXB, true, 1, 100, 10, 50},
      {sctYL, true, 1, 100, 100, 0},
      {sctXB, true, 1, 100, 0, 0},
      {sctXB, true, 1, 100, -5, 0},
      {sctXB, false, 0, 10, 1e300, 2147483647},
      {sctXB, false, 0, 10, -1e300, -2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " log " << c.logarithmic << " " << c.low
                                    << ".." << c.high << " value " << c.value);
    TScale scale(nullptr);
    scale.SetBounds(0, 0, 101, 101);
    scale.SetScaleType(c.type);
    scale.SetLogarithmic(c.logarithmic);
    scale.SetRange(c.low, c.high);
    EXPECT_EQ(scale.ValueToPixel(c.value), c.expected);
  }
}

TEST(ScaleTicksTest, ExtremeRangesDrawFewOrNoTicks) {
  const double ranges[][2] = {{0, 1e-320}, {-1e308, 1e308}, {0, INFINITY},
                              {NAN, 1},    {1, 1 + 1e-15},  {1e300, 1e301}};
  for (const auto& r : ranges) {
    SCOPED_TRACE(testing::Message() << r[0] << ".." << r[1]);
    for (TFigType type : {ftNum, ftTime, ftDateTime}) {
      for (bool logarithmic : {false, true}) {
        ScaleFixture f(r[0], r[1]);
        f.scale.SetLabelType(type);
        f.scale.SetLogarithmic(logarithmic);
        EXPECT_LE(f.scale.Layout().Ticks.size(), 2000u);
        f.scale.Repaint();
        EXPECT_LE(f.scale.NumTicks(), kMaxStoredTicks);
      }
    }
  }
}

TEST(ScaleMappingTest, DegenerateRangesKeepThePreviousScaling) {
  TScale scale(nullptr);
  scale.SetBounds(0, 0, 101, 20);
  scale.SetMargins(10, 0, 10, 0);  // extent 80
  scale.SetRange(0, 8);
  EXPECT_DOUBLE_EQ(scale.ScaleFactor(), 10);
  EXPECT_DOUBLE_EQ(scale.ScaleOffset(), 10);
  scale.SetRange(3, 3);
  EXPECT_DOUBLE_EQ(scale.ScaleFactor(), 10);
  scale.SetLogarithmic(true);
  scale.SetRange(-1, 8);  // a logarithmic scale through zero
  EXPECT_DOUBLE_EQ(scale.ScaleFactor(), 10);
  EXPECT_DOUBLE_EQ(scale.ScaleOffset(), 10);
  scale.SetLogarithmic(false);
  scale.SetBounds(0, 0, 15, 20);  // no room left between the margins
  EXPECT_DOUBLE_EQ(scale.ScaleFactor(), 0);
  EXPECT_DOUBLE_EQ(scale.ScaleOffset(), 7.5);
}

TEST(ScaleTicksTest, LogarithmicDecades) {
  struct Case {
    double low, high;
    int minTicks, decPlaces;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {1, 1000, 3, -2, {"1", "10", "100", "1000"}},
      {1, 1000, 5, -2, {"1", "2", "5", "10", "20", "50", "100", "200", "500", "1000"}},
      {1, 1000, 3, -3, {"0", "1", "2", "3"}},
      {0.01, 1, 2, -2, {"0.01", "0.1", "1"}},
      {1000, 1, 3, -2, {"1", "10", "100", "1000"}},
      {3, 3000, 2, -2, {"10", "100", "1000"}},
      {1e5, 1e7, 2, -2, {"100000", "1.00E+6", "1.00E+7"}},
      {1, 1000, 3, 1, {"1.0", "10.0", "100.0", "1000.0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.low << ".." << c.high << " min " << c.minTicks << " dec " << c.decPlaces);
    ScaleFixture f(c.low, c.high, c.minTicks);
    f.scale.SetLogarithmic(true);
    f.scale.SetDecPlaces(c.decPlaces);
    EXPECT_EQ(majorLabels(f.scale.Layout()), c.labels);
  }

  // Short ticks between 2, 5 and the decades when there is room.
  ScaleFixture f(1, 100, 4);
  f.scale.SetLogarithmic(true);
  f.scale.SetShortTicks(true);
  EXPECT_EQ(tickValues(f.scale.Layout(), false),
            (std::vector<double>{3, 4, 6, 7, 8, 9, 30, 40, 60, 70, 80, 90}));

  // Less than a decade: linear ticks on the logarithmic mapping.
  ScaleFixture narrow(1, 5, 4);
  narrow.scale.SetLogarithmic(true);
  narrow.scale.SetDecPlaces(0);
  EXPECT_EQ(majorLabels(narrow.scale.Layout()),
            (std::vector<std::string>{"1", "2", "3", "4", "5"}));
}

TEST(ScaleTicksTest, TimeTicks) {
  struct Case {
    double low, high;
    int minTicks;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {0, 10, 3, {" 0:00:00", " 0:00:02", " 0:00:04", " 0:00:06", " 0:00:08", " 0:00:10"}},
      {0, 1, 2, {" 0:00:00.000", " 0:00:00.500", " 0:00:01.000"}},
      {-120, 120, 2, {"-0:02:00", " 0:00:00", " 0:02:00"}},
      {3600, 3 * 3600, 2, {" 1:00:00", " 2:00:00", " 3:00:00"}},
      {0, 0.001, 2, {}},  // below the shortest step
      {0, 1e6, 3, {}},    // beyond the longest step
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.low << ".." << c.high);
    ScaleFixture f(c.low, c.high, c.minTicks);
    f.scale.SetLabelType(ftTime);
    EXPECT_EQ(majorLabels(f.scale.Layout()), c.labels);
  }
  EXPECT_EQ(TimeLabel(-3661.5, true), "-1:01:01.500");
  EXPECT_EQ(TimeLabel(59.9996, false), " 0:01:00");
  EXPECT_EQ(TimeStep(1), 0.001);
  EXPECT_EQ(TimeStep(27), 43200);
  EXPECT_EQ(TimeMinorCount(15), 6);
  EXPECT_EQ(TimeStep(0), 0);
  EXPECT_EQ(TimeStep(28), 0);

  // Minor ticks divide the 2-second step into four.
  ScaleFixture f(0, 10, 3);
  f.scale.SetLabelType(ftTime);
  f.scale.SetShortTicks(true);
  EXPECT_EQ(tickValues(f.scale.Layout(), false).size(), 15u);
}

TEST(ScaleTicksTest, InvalidDateTimeRangesShowATextInstead) {
  struct Case {
    double low, high;
    const char* notice;
  };
  const Case cases[] = {
      {10, 5, kInvalidDateTimeScale},      {-693594, 0, kInvalidDateTimeScale},
      {0, 3000001, kInvalidDateTimeScale}, {100, 100.00001, kDateTimeBelowOneSecond},
      {100, 100, kDateTimeBelowOneSecond},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.low << ".." << c.high);
    ScaleFixture f(c.low, c.high);
    f.scale.SetLabelType(ftDateTime);
    const TScaleLayout layout = f.scale.Layout();
    EXPECT_EQ(layout.Notice, c.notice);
    EXPECT_TRUE(layout.Ticks.empty());
  }
  ScaleFixture f(0, 10);
  f.scale.SetLabelType(ftDateTime);
  EXPECT_EQ(f.scale.Layout().Notice, "");
  EXPECT_FALSE(f.scale.Layout().Ticks.empty());
}

TEST(ScaleTicksTest, YearTicks) {
  const double y2000 = static_cast<double>(DayNumberFromCivil(2000, 1, 1));
  const double y2030 = static_cast<double>(DayNumberFromCivil(2030, 1, 1));
  const double july2000 = static_cast<double>(DayNumberFromCivil(2000, 7, 1));
  const double mid9950 = static_cast<double>(DayNumberFromCivil(9950, 6, 1));
  struct Case {
    double low, high;
    int minTicks;
    TYearLength length;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      // A low end on 1 January of a multiple starts at the next multiple.
      {y2000, y2030, 3, ylYYYY, {"2010", "2020", "2030"}},
      {y2000, y2030, 3, ylYY, {"10", "20", "30"}},
      {y2000, y2030, 3, ylNone, {"", "", ""}},
      {july2000, y2030, 2, ylYYYY, {"2010", "2020", "2030"}},
      {y2000 - 1, y2030, 2, ylYYYY, {"2000", "2010", "2020", "2030"}},
      // Nothing after 31 December 9999.
      {mid9950, 3000000, 10, ylYYYY, {"9960", "9970", "9980", "9990"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.low << ".." << c.high);
    ScaleFixture f(c.low, c.high, c.minTicks);
    f.scale.SetLabelType(ftDateTime);
    TDTLabel format;
    format.YearLength = c.length;
    f.scale.SetDateFormat(format);
    EXPECT_EQ(majorLabels(f.scale.Layout()), c.labels);
  }

  ScaleFixture f(y2000, y2030);
  f.scale.SetLabelType(ftDateTime);
  f.scale.SetShortTicks(true);
  const std::vector<double> shorts = tickValues(f.scale.Layout(), false);
  EXPECT_EQ(shorts, (std::vector<double>{static_cast<double>(DayNumberFromCivil(2005, 1, 1)),
                                         static_cast<double>(DayNumberFromCivil(2015, 1, 1)),
                                         static_cast<double>(DayNumberFromCivil(2025, 1, 1))}));
}

TEST(CalendarTest, DayNumbers) {
  struct Case {
    int year, month, day;
    long long dayNumber;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},  {1900, 1, 1, 2},         {2000, 1, 1, 36526},
      {1, 1, 1, -693593}, {9999, 12, 31, 2958465}, {2000, 2, 29, 36585},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(DayNumberFromCivil(c.year, c.month, c.day), c.dayNumber);
    const TCivilDate back = CivilFromDayNumber(c.dayNumber);
    EXPECT_EQ(back.Year, c.year);
    EXPECT_EQ(back.Month, c.month);
    EXPECT_EQ(back.Day, c.day);
  }
}

}  // namespace
}  // namespace arrowmap
