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

// Recursive descent over
//   sum     = product { ("+" | "-") product }
//   product = unary { ("*" | "/") unary }
//   unary   = { "+" | "-" } primary
//   primary = number | "x" | "y" | "(" sum ")"
// A product or quotient is kept only while the result stays linear: one factor must be
// a constant, and a divisor must be a non-zero constant.
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
      if (!times && !Take('/')) return true;
      Affine rhs;
      if (!Unary(rhs)) return false;
      if (times) {
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
    if (!Primary(out)) return false;
    out = {sign * out.a, sign * out.b, sign * out.c};
    return true;
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
    if (c == 'x' || c == 'X' || c == 'y' || c == 'Y') {
      ++pos_;
      // "xy" or "x2" would otherwise read as one name.
      if (pos_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[pos_])))
        return false;
      out = (c == 'x' || c == 'X') ? Affine{1.0, 0.0, 0.0} : Affine{0.0, 1.0, 0.0};
      return true;
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
