// Parser and evaluator of the viewer's formulas.
#include "arrowmap/app/formula.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>

#include "platform/crt_random.h"

namespace arrowmap {
namespace {

struct FunctionEntry {
  std::string_view name;
  bool takesArgument;
};

constexpr std::array<FunctionEntry, kFormulaFunctionCount> kFunctions{{
    {"ABS", true},
    {"ATAN", true},
    {"COS", true},
    {"EXP", true},
    {"FRAC", true},
    {"GAUSS", false},
    {"INT", true},
    {"LN", true},
    {"SIN", true},
    {"SQR", true},
    {"SQRT", true},
    {"TAN", true},
    {"RAND", true},
    {"ROUND", true},
    {"PI", false},
}};

constexpr long double kNearZero = 1e-30L;
// The x87 sine and cosine give up at 2^63; the viewer has always answered 0 there.
constexpr long double kTrigLimit = 9223372036854775808.0L;

// A standard normal deviate from the runtime generator (polar method).
long double gaussianDeviate() {
  for (;;) {
    const long double u = 2.0L * platform::rand() / platform::kRandMax - 1.0L;
    const long double v = 2.0L * platform::rand() / platform::kRandMax - 1.0L;
    const long double s = u * u + v * v;
    if (s > 0.0L && s < 1.0L) return u * std::sqrt(-2.0L * std::log(s) / s);
  }
}

// Notes on a node whose children are parsed whether its value can change between evaluations.
FormulaTree withRandomNoted(FormulaTree node) {
  const bool randomCall =
      node->kind == FormulaNode::function && (node->tag == kFuncRand || node->tag == kFuncGauss);
  node->drawsRandom = randomCall || (node->left && node->left->drawsRandom) ||
                      (node->right && node->right->drawsRandom);
  return node;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Rounds to the nearest integer, halves to even, whatever rounding mode is in force.
long double roundHalfEven(long double v) {
  const long double r = std::round(v);  // halves away from zero
  if (std::fabs(r - v) == 0.5L && std::fmod(r, 2.0L) != 0.0L) return r - std::copysign(1.0L, v);
  return r;
}

// A Double from long double without relying on out-of-range conversion.
double toDouble(long double v) {
  if (v > static_cast<long double>(DBL_MAX)) return HUGE_VAL;
  if (v < -static_cast<long double>(DBL_MAX)) return -HUGE_VAL;
  return static_cast<double>(v);
}

// One evaluation of a tree: the point, the failure flag and the node evaluations left.
struct Evaluation {
  long double x, y;
  bool failed = false;
  std::size_t stepsLeft = kMaxFormulaEvaluationSteps;
};

long double eval(const FormulaNode* node, Evaluation& e);

// The second use of an argument: its first value again, unless it draws random numbers.
long double reuseOrEval(const FormulaNode* arg, long double first, Evaluation& e) {
  return arg != nullptr && arg->drawsRandom ? eval(arg, e) : first;
}

long double evalFunction(const FormulaNode& node, Evaluation& e) {
  const FormulaNode* arg = node.left.get();
  switch (node.tag) {
    case kFuncAbs:
      return std::fabs(eval(arg, e));
    case kFuncAtan:
      return std::atan(eval(arg, e));
    case kFuncCos: {
      const long double a = eval(arg, e);
      return std::fabs(a) >= kTrigLimit ? 0.0L : std::cos(a);
    }
    case kFuncExp:
      return std::exp(eval(arg, e));
    case kFuncFrac: {
      const long double a = eval(arg, e);
      return a - std::trunc(a);
    }
    case kFuncGauss:
      return gaussianDeviate();
    case kFuncInt:
      return std::trunc(eval(arg, e));
    case kFuncLn: {
      const long double a = eval(arg, e);
      if (!(a > 0.0L)) {
        e.failed = true;
        return 0.0L;
      }
      return std::log(a);
    }
    case kFuncSin: {
      const long double a = eval(arg, e);
      return std::fabs(a) >= kTrigLimit ? 0.0L : std::sin(a);
    }
    case kFuncSqr: {
      const long double a = eval(arg, e);
      return a * a;
    }
    case kFuncSqrt: {
      const long double a = eval(arg, e);
      if (a < 0.0L) {
        e.failed = true;
        return 0.0L;
      }
      return std::sqrt(a);
    }
    case kFuncTan: {
      // A random argument is drawn anew for the cosine; any other has one value.
      const long double a = eval(arg, e);
      const long double s = std::sin(a);
      const long double c = std::cos(reuseOrEval(arg, a, e));
      return s / c;
    }
    case kFuncRand: {
      // A random argument is drawn anew for v / 2, after U; any other has one value.
      const long double v = eval(arg, e);
      const long double u =
          static_cast<long double>(platform::rand()) / (platform::kRandMax + 1.0L);
      const long double half = reuseOrEval(arg, v, e) / 2.0L;
      return u * v - half;
    }
    case kFuncRound:
      return roundHalfEven(eval(arg, e));
    case kFuncPi:
      return 3.141592653589793;
    default:
      e.failed = true;
      return 0.0L;
  }
}

long double evalBinary(const FormulaNode& node, Evaluation& e) {
  const FormulaNode* l = node.left.get();
  const FormulaNode* r = node.right.get();
  switch (node.tag) {
    case '+': {
      const long double a = eval(l, e);
      return a + eval(r, e);
    }
    case '-': {
      const long double a = eval(l, e);
      return a - eval(r, e);
    }
    case '*': {
      const long double a = eval(l, e);
      return a * eval(r, e);
    }
    case '/': {
      const long double divisor = eval(r, e);
      if (!(std::fabs(divisor) > kNearZero)) {
        e.failed = true;
        return 0.0L;
      }
      return eval(l, e) / divisor;
    }
    case '#': {
      const long double divisor = roundHalfEven(eval(r, e));
      if (!(divisor > 0.0L)) {
        e.failed = true;
        return 0.0L;
      }
      const long double dividend = roundHalfEven(eval(l, e));
      // fmodl keeps the dividend's sign and is exact on integers of any size.
      return std::fmod(dividend, divisor);
    }
    case '^': {
      const long double base = eval(l, e);
      if (!(std::fabs(base) > kNearZero)) {
        e.failed = true;
        return 0.0L;
      }
      const long double exponent = eval(r, e);
      if (base < 0.0L) {
        // exp(e * ln(b)) has no value for b < 0; an integral exponent still has a real power.
        if (std::trunc(exponent) != exponent) {
          e.failed = true;
          return 0.0L;
        }
        const long double magnitude = std::exp(exponent * std::log(-base));
        return std::fmod(exponent, 2.0L) != 0.0L ? -magnitude : magnitude;
      }
      return std::exp(exponent * std::log(base));
    }
    default:
      e.failed = true;
      return 0.0L;
  }
}

long double eval(const FormulaNode* node, Evaluation& e) {
  if (e.failed) return 0.0L;
  if (node == nullptr || e.stepsLeft == 0) {
    e.failed = true;
    return 0.0L;
  }
  --e.stepsLeft;
  switch (node->kind) {
    case FormulaNode::negation:
      return -eval(node->left.get(), e);
    case FormulaNode::binary:
      return evalBinary(*node, e);
    case FormulaNode::function:
      return evalFunction(*node, e);
    case FormulaNode::constant:
      return node->value;
    case FormulaNode::variable:
      return node->tag == 0 ? e.x : e.y;
    default:
      e.failed = true;
      return 0.0L;
  }
}

}  // namespace

std::string NormaliseFormula(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

int ParenthesisBalance(std::string_view text) {
  int balance = 0;
  for (char c : text) {
    if (c == '(') ++balance;
    if (c == ')') --balance;
  }
  return balance;
}

std::string_view StripOuterParentheses(std::string_view text) {
  while (text.size() >= 2 && text.front() == '(') {
    int depth = 0;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '(') ++depth;
      if (text[i] == ')' && --depth == 0) {
        close = i;
        break;
      }
    }
    if (close != text.size() - 1) break;
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

bool FindOperatorPos(std::string_view set, std::string_view text, std::size_t& pos) {
  int depth = 0;
  for (std::size_t i = text.size(); i-- > 1;) {
    const char c = text[i];
    if (c == ')') ++depth;
    if (c == '(') --depth;
    if (depth == 0 && set.find(c) != std::string_view::npos && text[i - 1] != 'E' &&
        text[i - 1] != '^') {
      pos = i;
      return true;
    }
  }
  return false;
}

bool MatchFormulaFunction(std::string_view text, std::size_t& parenPos, int& funcNo) {
  const std::size_t paren = text.find('(');
  const std::string_view name = text.substr(0, paren);
  for (std::size_t i = 0; i < kFunctions.size(); ++i) {
    if (kFunctions[i].name != name) continue;
    const bool closes = !text.empty() && text.back() == ')';
    if (kFunctions[i].takesArgument ? (paren == std::string_view::npos || !closes)
                                    : (paren != std::string_view::npos || closes)) {
      return false;
    }
    parenPos = paren;
    funcNo = static_cast<int>(i);
    return true;
  }
  return false;
}

bool ParseFormulaNumber(std::string_view text, double& value) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  std::size_t mantissaDigits = 0;
  // Decimal magnitude of the first significant digit, to tell overflow from underflow.
  long long leadingPower = 0;
  bool significant = false;
  while (i < n && isDigit(text[i])) {
    if (text[i] != '0') significant = true;
    if (significant) ++leadingPower;
    ++i;
    ++mantissaDigits;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && isDigit(text[i])) {
      if (!significant) {
        if (text[i] != '0')
          significant = true;
        else
          --leadingPower;
      }
      ++i;
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return false;
  long long exponent = 0;
  if (i < n && text[i] == 'E') {
    ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digitsStart = i;
    while (i < n && isDigit(text[i])) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (i == digitsStart) return false;
    if (negative) exponent = -exponent;
  }
  if (i != n) return false;

  double parsed = 0.0;
  const auto result =
      std::from_chars(text.data(), text.data() + n, parsed, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    if (significant && leadingPower + exponent > 0) return false;
    parsed = 0.0;
  } else if (result.ec != std::errc() || result.ptr != text.data() + n) {
    return false;
  }
  value = parsed;
  return true;
}

bool ParseFormulaVariable(std::string_view text, int& index) {
  if (text == "X") {
    index = 0;
    return true;
  }
  if (text == "Y") {
    index = 1;
    return true;
  }
  return false;
}

FormulaTree ParseFormulaNode(std::string_view text, int depth, bool& failed) {
  for (;;) {
    const std::string_view stripped = StripOuterParentheses(text);
    // Each stripped pair is one level of nesting, so that "((((...))))" stays bounded too.
    depth += static_cast<int>((text.size() - stripped.size()) / 2);
    text = stripped;
    if (failed || text.empty() || depth >= kMaxFormulaDepth) {
      failed = true;
      return nullptr;
    }

    auto binaryAt = [&](std::size_t pos) {
      auto node = std::make_unique<FormulaNode>();
      node->kind = FormulaNode::binary;
      node->tag = static_cast<std::uint8_t>(text[pos]);
      node->left = ParseFormulaNode(text.substr(0, pos), depth + 1, failed);
      node->right = ParseFormulaNode(text.substr(pos + 1), depth + 1, failed);
      return failed ? nullptr : withRandomNoted(std::move(node));
    };

    std::size_t pos = 0;
    if (FindOperatorPos("+-", text, pos)) return binaryAt(pos);
    if (FindOperatorPos("*/#", text, pos)) return binaryAt(pos);
    if (text.front() == '+') {
      // A leading plus is dropped and the rest parsed in this node's place.
      text.remove_prefix(1);
      ++depth;
      continue;
    }
    if (text.front() == '-') {
      auto node = std::make_unique<FormulaNode>();
      node->kind = FormulaNode::negation;
      node->left = ParseFormulaNode(text.substr(1), depth + 1, failed);
      return failed ? nullptr : withRandomNoted(std::move(node));
    }
    if (FindOperatorPos("^", text, pos)) return binaryAt(pos);

    std::size_t parenPos = 0;
    int funcNo = 0;
    if (MatchFormulaFunction(text, parenPos, funcNo)) {
      auto node = std::make_unique<FormulaNode>();
      node->kind = FormulaNode::function;
      node->tag = static_cast<std::uint8_t>(funcNo);
      if (parenPos != std::string_view::npos) {
        node->left = ParseFormulaNode(text.substr(parenPos + 1, text.size() - parenPos - 2),
                                      depth + 1, failed);
      }
      return failed ? nullptr : withRandomNoted(std::move(node));
    }

    double value = 0.0;
    if (ParseFormulaNumber(text, value)) {
      auto node = std::make_unique<FormulaNode>();
      node->kind = FormulaNode::constant;
      node->value = value;
      return node;
    }
    int index = 0;
    if (ParseFormulaVariable(text, index)) {
      auto node = std::make_unique<FormulaNode>();
      node->kind = FormulaNode::variable;
      node->tag = static_cast<std::uint8_t>(index);
      return node;
    }
    failed = true;
    return nullptr;
  }
}

FormulaTree ParseFormula(std::string_view text) {
  if (text.size() > kMaxFormulaLength) return nullptr;
  bool failed = false;
  FormulaTree tree = ParseFormulaNode(text, 0, failed);
  if (failed) return nullptr;
  return tree;
}

long double EvalFormulaNode(const FormulaNode* node, long double x, long double y, bool& failed) {
  Evaluation e{x, y, failed};
  const long double value = eval(node, e);
  failed = e.failed;
  return value;
}

double EvalFormulaTree(const FormulaNode* tree, double x, double y) {
  bool failed = false;
  const long double value = EvalFormulaNode(tree, x, y, failed);
  if (failed) return 0.0;
  return toDouble(value);
}

void FreeFormulaTree(FormulaTree& tree) {
  if (!tree) return;
  FreeFormulaTree(tree->left);
  FreeFormulaTree(tree->right);
  tree.reset();
}

double EvaluateFormulaText(std::string_view text, double x, double y, FormulaRejection& rejection) {
  rejection = FormulaRejection::none;
  const std::string normalised = NormaliseFormula(text);
  if (ParenthesisBalance(normalised) != 0) {
    rejection = FormulaRejection::parentheses;
    return 0.0;
  }
  FormulaTree tree = ParseFormula(normalised);
  if (!tree) {
    rejection = FormulaRejection::rightSide;
    return 0.0;
  }
  const double value = EvalFormulaTree(tree.get(), x, y);
  FreeFormulaTree(tree);
  return value;
}

}  // namespace arrowmap
