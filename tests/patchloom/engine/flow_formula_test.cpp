// The flow formulas: linear expressions in x and y reduced to a*x + b*y + c, and every
// text that is not such an expression refused.
#include <gtest/gtest.h>

#include <string>

#include "patchloom/engine/patch_optimizer.h"

namespace {

TEST(FlowFormulaTest, LinearFormulasGiveTheirCoefficients) {
  struct Case {
    const char* text;
    double a, b, c;
  };
  const Case cases[] = {
      {"0.9*x", 0.9, 0, 0},
      {"x-0.1*y+2", 1, -0.1, 2},
      {"y", 0, 1, 0},
      {"X + Y", 1, 1, 0},
      {" 2 * ( x + 3 ) / 4 ", 0.5, 0, 1.5},
      {"-(x - y)", -1, 1, 0},
      {"x - -y", 1, 1, 0},
      {"x*2 - 3*y", 2, -3, 0},
      {"7", 0, 0, 7},
      {".5*y + 1e-1*x", 0.1, 0.5, 0},
      {"(x - x) * y", 0, 0, 0},  // a product by a constant that happens to be zero
      {"((((x))))", 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    double a = -1, b = -1, k = -1;
    ASSERT_TRUE(CPatchOptimizer::ParseFlowFormula(c.text, a, b, k));
    EXPECT_DOUBLE_EQ(a, c.a);
    EXPECT_DOUBLE_EQ(b, c.b);
    EXPECT_DOUBLE_EQ(k, c.c);
  }
}

TEST(FlowFormulaTest, RefusesWhatIsNotLinear) {
  const std::string deep = std::string(1000, '(') + "x" + std::string(1000, ')');
  const char* cases[] = {
      "x*y",  "x*x",     "x/y",        "x/0",    "x/(y-y)", "",    "   ",        "x+",  "*x",
      "2x",   "xy",      "x2",         "sin(x)", "x^2",     "(x",  "x)",         "inf", "nan",
      "0x10", "1e999*x", "1e308*10*x", "z",      "1e",      "x,y", deep.c_str(),
  };
  for (const char* text : cases) {
    SCOPED_TRACE(std::string(text).substr(0, 40));
    double a = 5, b = 5, c = 5;
    EXPECT_FALSE(CPatchOptimizer::ParseFlowFormula(text, a, b, c));
  }
}

}  // namespace
