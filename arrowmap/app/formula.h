// The formula language of the viewer: a typed formula in x and y is normalised, checked,
// parsed into a node tree and evaluated in extended precision. Nothing is cached between
// evaluations: the form runs the whole chain for every one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace arrowmap {

// One heap record per node of a parsed formula.
struct FormulaNode {
  enum Kind : std::uint8_t { negation = 0, binary = 1, function = 2, constant = 3, variable = 4 };

  std::uint8_t kind = negation;
  // Binary node: the operator character; function node: its number in the function table;
  // variable node: 0 for X, 1 for Y.
  std::uint8_t tag = 0;
  // Set by the parser when this subtree calls RAND or GAUSS, so that its value differs from
  // one evaluation to the next.
  bool drawsRandom = false;
  // Operand of a negation, argument of a function, left operand of a binary node.
  std::unique_ptr<FormulaNode> left;
  // Right operand of a binary node.
  std::unique_ptr<FormulaNode> right;
  // Value of a constant node.
  double value = 0.0;
};

using FormulaTree = std::unique_ptr<FormulaNode>;

// The function table, in table order (the numbers are the function nodes' tags).
enum FormulaFunction : std::uint8_t {
  kFuncAbs,
  kFuncAtan,
  kFuncCos,
  kFuncExp,
  kFuncFrac,
  kFuncGauss,
  kFuncInt,
  kFuncLn,
  kFuncSin,
  kFuncSqr,
  kFuncSqrt,
  kFuncTan,
  kFuncRand,
  kFuncRound,
  kFuncPi,
  kFormulaFunctionCount
};

// Bounds that keep hostile formulas from exhausting the stack or the processor: longer
// texts and deeper trees (counting stripped parenthesis pairs) are parse failures.
inline constexpr std::size_t kMaxFormulaLength = 1000;
inline constexpr int kMaxFormulaDepth = 256;
// Node evaluations allowed in one evaluation of a tree. A tree has at most about
// kMaxFormulaLength nodes and an argument without a random function is evaluated once, so
// only TAN and RAND over random arguments, which must evaluate them once per use, can
// double their work per level; past this budget the evaluation fails. It is a hundred
// times the largest tree, and keeps the worst formula to milliseconds.
inline constexpr std::size_t kMaxFormulaEvaluationSteps = 100000;

// Every character upper-cased (ASCII), every blank removed.
std::string NormaliseFormula(std::string_view text);

// The count of "(" minus the count of ")".
int ParenthesisBalance(std::string_view text);

// While the text begins with "(" and that parenthesis closes at the last character, drops
// the pair. The result views the same characters as `text`.
std::string_view StripOuterParentheses(std::string_view text);

// Finds the rightmost operator of `set` outside parentheses: the scan runs from the last
// character down to the second; a character preceded by "E" or "^" is part of a number or
// an exponent's sign, not an operator. `pos` receives its index (0-based).
bool FindOperatorPos(std::string_view set, std::string_view text, std::size_t& pos);

// Matches the text as a call of a table function. A function with an argument needs a "("
// and a last character ")"; `parenPos` then receives the index of the first "(". A function
// without one needs neither; `parenPos` then receives std::string_view::npos.
bool MatchFormulaFunction(std::string_view text, std::size_t& parenPos, int& funcNo);

// The whole text as a decimal number: digits, optional "." and fraction, optional exponent
// "E" with optional sign. A number beyond the Double range is refused; one too small for it
// reads as 0.
bool ParseFormulaNumber(std::string_view text, double& value);

// Exactly "X" (index 0) or "Y" (index 1).
bool ParseFormulaVariable(std::string_view text, int& index);

// Parses one node of a normalised text. `failed` is shared by the whole parse: once set,
// every further call fails. `depth` counts the nodes and stripped pairs above this one.
FormulaTree ParseFormulaNode(std::string_view text, int depth, bool& failed);

// The tree of a normalised formula, or null when the text is not a formula. The caller
// owns the tree.
FormulaTree ParseFormula(std::string_view text);

// Evaluates one node in extended precision, with a fresh budget of
// kMaxFormulaEvaluationSteps. Once `failed` is set every node yields 0.
long double EvalFormulaNode(const FormulaNode* node, long double x, long double y, bool& failed);

// The tree's value at (x, y), or the failure value 0.0 when the evaluation failed
// (division by a near-zero, "#" by 0 or less, power of a near-zero base, LN of 0 or less,
// SQRT of a negative number, a negative base under a fractional exponent, or more than
// kMaxFormulaEvaluationSteps node evaluations).
double EvalFormulaTree(const FormulaNode* tree, double x, double y);

// Frees a tree bottom-up; a null tree is ignored.
void FreeFormulaTree(FormulaTree& tree);

// Why a typed formula was refused before evaluation.
enum class FormulaRejection { none, parentheses, rightSide };

// The whole chain on a typed text: normalise, check the parentheses, parse, evaluate at
// (x, y), free. A refused formula gives 0.0 and its reason; a failed evaluation gives 0.0
// with no reason.
double EvaluateFormulaText(std::string_view text, double x, double y, FormulaRejection& rejection);

}  // namespace arrowmap
