// The expression calculator: compiles an arithmetic expression (UTF-8 text)
// once into stack code and evaluates the code many times in double precision.
//
// Formulas come from show files: the compiler treats every text as untrusted.
// It caps the text length and the nesting depth, folds constants, and fails
// with an error code instead of producing code that divides by a constant
// zero. Evaluation fails (answers false) when any step yields an infinite or
// NaN value, as a floating-point exception would have stopped it.
//
//   TExpressionParser0 p;
//   p.Text = "Sin(t * Pi) * 50 + 50";
//   if (ParseExpression(p, 0, p.Text.size(), resolver)) {
//     TCalcStack s;
//     if (EvaluateCode(p.Code, s) && s.Count == 1) use(s.Top);
//   }
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/vxCalcUtils.h"
#include "VoRav/vxDelegate.h"

namespace kav {

// Opcodes. A call of a function with n arguments is kCalcCall + n.
enum : int32_t {
  kCalcLoad = 0,  // push the constant
  kCalcNeg = 1,   // top = -top
  kCalcAdd = 2,   // pop b; top = top + b
  kCalcSub = 3,
  kCalcMul = 4,
  kCalcDiv = 5,
  kCalcAddC = 6,  // top = top + constant
  kCalcMulC = 7,  // top = top * constant
  kCalcCSub = 8,  // top = constant - top
  kCalcCDiv = 9,  // top = constant / top
  kCalcCall = 10,
};

struct TCalcInstruction {
  int32_t Opcode = kCalcLoad;
  Ref<TCalcFunc> Func;  // for calls
  double Constant = 0;  // for load, addc, mulc, csub, cdiv
};

// Compiled code; holds a reference to each called function.
struct TCalcCode {
  std::vector<TCalcInstruction> Items;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
};

// Error codes of the compiler.
enum : int32_t {
  kCalcNoError = 0,
  kCalcExpected = 1,          // the error text names what was expected
  kCalcInvalidNumber = 2,
  kCalcDivisionByZero = 3,
  kCalcUnknownName = 4,
  kCalcFunctionCallError = 5, // a constant call or operation failed at compile time
  kCalcTooComplex = 6,        // text too long or nesting too deep
};
// "No Error", "Expected", "Invalid Number Format", "Division by Zerro",
// "Unknown Function or Variable", "Function Call Error",
// "Expression Too Complex"; "" for other codes.
const char* CalcErrorName(int32_t code);

// Resolves a name the caller knows (a variable or a function of its own);
// returns null for names it does not know. Called while compiling, on the
// compiling thread.
using TCalcResolver = TDelegate<Ref<TCalcFunc>(std::string_view name)>;
// Receives the text of each instruction as it is emitted, and "/drop ..."
// when the optimiser removes one.
using TCalcTraceHook = TDelegate<void(std::string_view text)>;

// The compiler's state. Belongs to one thread.
class TExpressionParser0 {
 public:
  // Texts longer than this fail with kCalcTooComplex.
  static constexpr size_t kMaxTextLength = 65536;
  // Parentheses and argument lists nested deeper than this fail with
  // kCalcTooComplex.
  static constexpr int kMaxNesting = 128;

  enum TokenKind : int32_t { kTokEnd, kTokOperator, kTokNumber, kTokIdentifier, kTokOther };

  TCalcResolver Resolver;
  size_t TokenStart = 0;
  size_t TokenEnd = 0;
  size_t TextEnd = 0;
  TokenKind Token = kTokEnd;
  std::string Text;  // filled by the caller before ParseExpression
  TCalcCode Code;
  int32_t ErrorCode = kCalcNoError;
  // For kCalcExpected what was expected ("Operator", "Expression", "(", ...);
  // else the code's name.
  std::u16string ErrorText;
  TCalcTraceHook Trace;
};

// Compiles Text[start, start + count) (the range is cut to the text) into
// parser.Code. True on success; on failure the code is empty and ErrorCode and
// ErrorText say why. Exceptions from the resolver propagate (the code is then
// empty too).
bool ParseExpression(TExpressionParser0& parser, size_t start, size_t count, TCalcResolver resolver);

// Clears the stack and runs the code. True when every instruction ran; false
// when a step produced an infinite or NaN value (a division by zero, a square
// root of a negative number, an overflow), when a called function threw, or
// when the code is malformed. An empty code succeeds and leaves the stack
// empty. The result is the top when exactly one value is left.
bool EvaluateCode(const TCalcCode& code, TCalcStack& stack);

// Releases the called functions and empties the code.
void ClearCode(TCalcCode& code);

// "load 7", "addc -1", "call(1) Sin", "call ???" for a call without a function.
std::string CalcInstructionText(const TCalcInstruction& instr);
// One line per instruction, or "--nocmd--" for an empty code.
std::string CalcCodeText(const TCalcCode& code);

}  // namespace kav
