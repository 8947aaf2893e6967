// The formulas of a flow field: one linear expression in x and y per axis, reduced to
// its three coefficients while it is parsed.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "patchloom/engine/patch_optimizer.h"

namespace {

// a*x + b*y + c.
struct Affine {
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;

  bool IsConstant() const { return a == 0.0 && b == 0.0; }
  bool IsFinite() const { return std::isfinite(a) && std::isfinite(b) && std::isfinite(c); }
};

// Recursive descent over the formula language of the flow fields (the one the field
// viewer reads):
//   sum     = product { ("+" | "-") product }
//   product = unary { ("*" | "/" | "#") unary }
//   unary   = { "+" | "-" } power
//   power   = primary { "^" { "+" | "-" } primary }
//   primary = number | "x" | "y" | "pi" | function "(" sum ")" | "(" sum ")"
// Names are read without regard to case. The result is kept only while it stays
// linear: a product needs a constant factor, and divisors, remainders, powers and
// function arguments must be constants. The random functions never give a fixed map.
class LinearParser {
 public:
  explicit LinearParser(const std::string& text) : text_(text) {}

  bool Parse(Affine& result) {
    if (!Sum(result)) return false;
    SkipBlanks();
    return pos_ == text_.size() && result.IsFinite();
  }

 private:
  // Deep enough for any formula a person types; bounds the recursion on hostile text.
  static constexpr int kMaxDepth = 200;

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  bool Take(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Sum(Affine& out) {
    if (!Product(out)) return false;
    for (;;) {
      const bool plus = Take('+');
      if (!plus && !Take('-')) return true;
      Affine rhs;
      if (!Product(rhs)) return false;
      const double sign = plus ? 1.0 : -1.0;
      out.a += sign * rhs.a;
      out.b += sign * rhs.b;
      out.c += sign * rhs.c;
    }
  }

  bool Product(Affine& out) {
    if (!Unary(out)) return false;
    for (;;) {
      const bool times = Take('*');
      const bool remainder = !times && Take('#');
      if (!times && !remainder && !Take('/')) return true;
      Affine rhs;
      if (!Unary(rhs)) return false;
      if (remainder) {
        // Both sides rounded, halves to even; the remainder keeps the left side's sign.
        if (!out.IsConstant() || !rhs.IsConstant()) return false;
        const double divisor = std::nearbyint(rhs.c);
        if (!(divisor > 0.0)) return false;
        out = {0.0, 0.0, std::fmod(std::nearbyint(out.c), divisor)};
      } else if (times) {
        if (rhs.IsConstant()) {
          out = {out.a * rhs.c, out.b * rhs.c, out.c * rhs.c};
        } else if (out.IsConstant()) {
          out = {rhs.a * out.c, rhs.b * out.c, rhs.c * out.c};
        } else {
          return false;  // x*y, x*x: not linear
        }
      } else {
        if (!rhs.IsConstant() || rhs.c == 0.0) return false;
        out = {out.a / rhs.c, out.b / rhs.c, out.c / rhs.c};
      }
      if (!out.IsFinite()) return false;
    }
  }

  bool Unary(Affine& out) {
    double sign = 1.0;
    for (;;) {
      if (Take('-')) {
        sign = -sign;
      } else if (!Take('+')) {
        break;
      }
    }
    if (!Power(out)) return false;
    out = {sign * out.a, sign * out.b, sign * out.c};
    return true;
  }

  // Left-associative, so 2^3^2 is 64; the exponent may carry signs (2^-1).
  bool Power(Affine& out) {
    if (!Primary(out)) return false;
    while (Take('^')) {
      double sign = 1.0;
      for (;;) {
        if (Take('-')) {
          sign = -sign;
        } else if (!Take('+')) {
          break;
        }
      }
      Affine exponent;
      if (!Primary(exponent)) return false;
      // Powers are taken through the logarithm, which needs a positive base.
      if (!out.IsConstant() || !exponent.IsConstant() || !(out.c > 1e-30)) return false;
      out = {0.0, 0.0, std::exp(sign * exponent.c * std::log(out.c))};
      if (!out.IsFinite()) return false;
    }
    return true;
  }

  // A function of a constant argument, or pi; false for a name outside the table, a
  // random function and an argument outside the function's domain.
  bool Function(const std::string& name, Affine& out) {
    if (name == "PI") {
      out = {0.0, 0.0, 3.141592653589793};
      return true;
    }
    static constexpr const char* kWithArgument[] = {"ABS", "ATAN", "COS", "EXP",  "FRAC", "INT",
                                                    "LN",  "SIN",  "SQR", "SQRT", "TAN",  "ROUND"};
    bool known = false;
    for (const char* f : kWithArgument) known = known || name == f;
    if (!known || !Take('(')) return false;
    if (++depth_ > kMaxDepth) return false;
    Affine argument;
    const bool ok = Sum(argument) && Take(')');
    --depth_;
    if (!ok || !argument.IsConstant()) return false;
    const double v = argument.c;
    // The field viewer's sine and cosine give 0 from 2^63 on.
    const bool huge = std::fabs(v) >= 9223372036854775808.0;
    double r = 0.0;
    if (name == "ABS")
      r = std::fabs(v);
    else if (name == "ATAN")
      r = std::atan(v);
    else if (name == "COS")
      r = huge ? 0.0 : std::cos(v);
    else if (name == "EXP")
      r = std::exp(v);
    else if (name == "FRAC")
      r = v - std::trunc(v);
    else if (name == "INT")
      r = std::trunc(v);
    else if (name == "LN") {
      if (!(v > 0.0)) return false;
      r = std::log(v);
    } else if (name == "SIN")
      r = huge ? 0.0 : std::sin(v);
    else if (name == "SQR")
      r = v * v;
    else if (name == "SQRT") {
      if (v < 0.0) return false;
      r = std::sqrt(v);
    } else if (name == "TAN")
      r = std::sin(v) / std::cos(v);
    else
      r = std::nearbyint(v);  // ROUND: halves to even
    out = {0.0, 0.0, r};
    return out.IsFinite();
  }

  bool Primary(Affine& out) {
    SkipBlanks();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '(') {
      ++pos_;
      if (++depth_ > kMaxDepth) return false;
      const bool ok = Sum(out) && Take(')');
      --depth_;
      return ok;
    }
    if (std::isalpha(static_cast<unsigned char>(c))) {
      std::string name;
      while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_])))
        name += static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_++])));
      // "x2" is no name and no product.
      if (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
        return false;
      if (name == "X" || name == "Y") {
        out = name == "X" ? Affine{1.0, 0.0, 0.0} : Affine{0.0, 1.0, 0.0};
        return true;
      }
      return Function(name, out);
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return Number(out);
    return false;
  }

  // Digits with an optional fraction and exponent; strtod alone would also take "inf",
  // "nan" and hexadecimal numbers.
  bool Number(Affine& out) {
    const std::size_t start = pos_;
    std::size_t digits = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
      ++pos_, ++digits;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])))
        ++pos_, ++digits;
    }
    if (digits == 0) return false;
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      std::size_t p = pos_ + 1;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (p >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[p]))) return false;
      while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) ++p;
      pos_ = p;
    }
    // "2x" is not a product here: a name may not follow a number.
    if (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) return false;
    const std::string number = text_.substr(start, pos_ - start);
    const double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) return false;
    out = {0.0, 0.0, value};
    return true;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

bool CPatchOptimizer::ParseFlowFormula(const std::string& text, double& a, double& b, double& c) {
  Affine result;
  LinearParser parser(text);
  if (!parser.Parse(result)) {
    a = b = c = 0.0;
    return false;
  }
  a = result.a;
  b = result.b;
  c = result.c;
  return true;
}
