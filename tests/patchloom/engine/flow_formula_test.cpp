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
      // Constant parts in the field viewer's language.
      {"PI*x", 3.141592653589793, 0, 0},
      {"sqrt(4)*Y - 2^3", 0, 2, -8},
      {"-2^2*x", -4, 0, 0},
      {"2^3^2", 0, 0, 64},
      {"2^-1*x", 0.5, 0, 0},
      {"7#3*x + -7#3", 1, 0, -1},
      {"2.5#1 + cos(0)*x + sin(0)*y + round(2.5)", 1, 0, 2},  // 2 # 1 is 0
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
      "x*y", "x*x",      "x/y",  "x/0",         "x/(y-y)",    "",        "   ",        "x+",
      "*x",  "2x",       "xy",   "x2",          "sin(x)",     "x^2",     "(x",         "x)",
      "inf", "nan",      "0x10", "1e999*x",     "1e308*10*x", "z",       "1e",         "x,y",
      "2^x", "(-2)^2*x", "0^2",  "gauss*x",     "rand(1)*x",  "ln(0)*x", "sqrt(-1)*y", "pi(1)",
      "sin", "7#0",      "x#2",  "exp(1000)*x", deep.c_str(),
  };
  for (const char* text : cases) {
    SCOPED_TRACE(std::string(text).substr(0, 40));
    double a = 5, b = 5, c = 5;
    EXPECT_FALSE(CPatchOptimizer::ParseFlowFormula(text, a, b, c));
  }
}

}  // namespace
