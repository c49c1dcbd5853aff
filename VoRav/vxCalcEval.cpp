// Evaluation of compiled calculator code, and its text form for tracing.
#include <cmath>
#include <cstdio>
#include <exception>

#include "VoRav/vxCalc.h"

namespace kav {

namespace {

// How many stack values opcodes 0..9 consume.
constexpr int32_t kConsumed[kCalcCall] = {0, 1, 2, 2, 2, 2, 1, 1, 1, 1};
const char* const kOpcodeNames[kCalcCall] = {"load", "neg", "add", "sub", "mul",
                                             "div",  "addc", "mulc", "csub", "cdiv"};

bool HasConstant(int32_t op) { return op == kCalcLoad || (op >= kCalcAddC && op <= kCalcCDiv); }

}  // namespace

const char* CalcErrorName(int32_t code) {
  switch (code) {
    case kCalcNoError: return "No Error";
    case kCalcExpected: return "Expected";
    case kCalcInvalidNumber: return "Invalid Number Format";
    case kCalcDivisionByZero: return "Division by Zerro";
    case kCalcUnknownName: return "Unknown Function or Variable";
    case kCalcFunctionCallError: return "Function Call Error";
    case kCalcTooComplex: return "Expression Too Complex";
    default: return "";
  }
}

bool EvaluateCode(const TCalcCode& code, TCalcStack& stack) {
  CalcStackClear(stack);
  try {
    for (const TCalcInstruction& in : code.Items) {
      const int32_t op = in.Opcode;
      if (op < 0) return false;
      const int32_t needed = op >= kCalcCall ? op - kCalcCall : kConsumed[op];
      if (stack.Count < needed) return false;
      switch (op) {
        case kCalcLoad: CalcStackPush(stack, in.Constant); break;
        case kCalcNeg: stack.Top = -stack.Top; break;
        case kCalcAdd: { double b = CalcStackPop(stack); stack.Top += b; break; }
        case kCalcSub: { double b = CalcStackPop(stack); stack.Top -= b; break; }
        case kCalcMul: { double b = CalcStackPop(stack); stack.Top *= b; break; }
        case kCalcDiv: { double b = CalcStackPop(stack); stack.Top /= b; break; }
        case kCalcAddC: stack.Top += in.Constant; break;
        case kCalcMulC: stack.Top *= in.Constant; break;
        case kCalcCSub: stack.Top = in.Constant - stack.Top; break;
        case kCalcCDiv: stack.Top = in.Constant / stack.Top; break;
        default:
          if (!in.Func || in.Func->ArgCount() != needed) return false;
          in.Func->Evaluate(stack);
          break;
      }
      // Where the original's floating-point unit raised an exception
      // (division by zero, invalid operation, overflow), stop.
      if (stack.Count > 0 && !std::isfinite(stack.Top)) return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ClearCode(TCalcCode& code) {
  code.Items.clear();
  code.Items.shrink_to_fit();
}

std::string CalcInstructionText(const TCalcInstruction& in) {
  const int32_t op = in.Opcode;
  std::string text;
  if (op >= kCalcCall) {
    text = op == kCalcCall ? std::string("call") : "call(" + std::to_string(op - kCalcCall) + ")";
    text += in.Func ? " " + in.Func->Name() : std::string(" ???");
    return text;
  }
  if (op < 0) return "??? " + std::to_string(op);
  text = kOpcodeNames[op];
  if (HasConstant(op)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, " %.16g", in.Constant);
    text += buf;
  }
  return text;
}

std::string CalcCodeText(const TCalcCode& code) {
  if (code.Items.empty()) return "--nocmd--";
  std::string text;
  for (const TCalcInstruction& in : code.Items) {
    text += CalcInstructionText(in);
    text += '\n';
  }
  return text;
}

}  // namespace kav
