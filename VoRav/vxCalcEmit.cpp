#include "VoRav/vxCalcEmit.h"

#include <cmath>
#include <exception>

namespace kav {

namespace {

constexpr double kZeroEps = 1e-08;

}  // namespace

bool TCalcEmitter::IsSingleLoad(size_t start) const {
  return Size() == start + 1 && code_.Items[start].Opcode == kCalcLoad;
}

void TCalcEmitter::Emit(int32_t opcode, double constant, Ref<TCalcFunc> func) {
  code_.Items.push_back(TCalcInstruction{opcode, std::move(func), constant});
  if (trace_) trace_(CalcInstructionText(code_.Items.back()));
}

void TCalcEmitter::Drop(size_t index) {
  if (trace_) trace_("/drop " + CalcInstructionText(code_.Items[index]));
  code_.Items.erase(code_.Items.begin() + static_cast<std::ptrdiff_t>(index));
}

void TCalcEmitter::DropLast(size_t n) {
  while (n-- > 0) Drop(Size() - 1);
}

// Adds c to the top value, merging with the instruction that made it.
void TCalcEmitter::AddConst(double c) {
  KAV_ASSERT(!code_.Items.empty());
  int32_t kind = kCalcAddC;
  double value = c;
  const TCalcInstruction& last = code_.Items.back();
  if (last.Opcode == kCalcAddC || last.Opcode == kCalcCSub) {
    // (x + d) + c = x + (c + d);  (d - x) + c = (c + d) - x
    kind = last.Opcode;
    value = c + last.Constant;
    DropLast(1);
  } else if (last.Opcode == kCalcNeg) {
    kind = kCalcCSub;  // (-x) + c = c - x
    DropLast(1);
  }
  if (std::fabs(value) <= kZeroEps) {
    if (kind == kCalcCSub) Emit(kCalcNeg);
    return;
  }
  Emit(kind, value);
}

// Multiplies the top value by c, merging with the instruction that made it.
void TCalcEmitter::MulConst(double c) {
  KAV_ASSERT(!code_.Items.empty());
  int32_t kind = kCalcMulC;
  double value = c;
  const TCalcInstruction& last = code_.Items.back();
  if (last.Opcode == kCalcMulC || last.Opcode == kCalcCDiv) {
    // (x * d) * c = x * (c * d);  (d / x) * c = (c * d) / x
    kind = last.Opcode;
    value = c * last.Constant;
    DropLast(1);
  } else if (last.Opcode == kCalcNeg) {
    value = -c;
    DropLast(1);
  }
  if (kind == kCalcMulC) {
    if (std::fabs(value - 1) <= kZeroEps) return;
    if (std::fabs(value + 1) <= kZeroEps) {
      Emit(kCalcNeg);
      return;
    }
  }
  Emit(kind, value);
}

// top = c - top.
void TCalcEmitter::SubFromConst(double c) {
  if (std::fabs(c) <= kZeroEps)
    Emit(kCalcNeg);
  else
    Emit(kCalcCSub, c);
}

int32_t TCalcEmitter::Binary(char op, size_t left_start, size_t right_start) {
  const bool left_const = right_start == left_start + 1 && code_.Items[left_start].Opcode == kCalcLoad;
  const bool right_const = IsSingleLoad(right_start);
  if (left_const && right_const) {
    const double a = code_.Items[left_start].Constant;
    const double b = code_.Items[right_start].Constant;
    double r = 0;
    switch (op) {
      case '+': r = a + b; break;
      case '-': r = a - b; break;
      case '*': r = a * b; break;
      default:
        if (b == 0) return kCalcDivisionByZero;
        r = a / b;
        break;
    }
    if (!std::isfinite(r)) return kCalcFunctionCallError;
    DropLast(2);
    Load(r);
    return kCalcNoError;
  }
  if (right_const) {
    const double c = code_.Items[right_start].Constant;
    if (op == '/' && (c == 0 || !std::isfinite(1 / c))) return kCalcDivisionByZero;
    DropLast(1);
    switch (op) {
      case '+': AddConst(c); break;
      case '-': AddConst(-c); break;
      case '*': MulConst(c); break;
      default: MulConst(1 / c); break;
    }
    return kCalcNoError;
  }
  if (left_const) {
    const double c = code_.Items[left_start].Constant;
    Drop(left_start);
    switch (op) {
      case '+': AddConst(c); break;
      case '-': SubFromConst(c); break;
      case '*': MulConst(c); break;
      default: Emit(kCalcCDiv, c); break;
    }
    return kCalcNoError;
  }
  switch (op) {
    case '+': Emit(kCalcAdd); break;
    case '-': Emit(kCalcSub); break;
    case '*': Emit(kCalcMul); break;
    default: Emit(kCalcDiv); break;
  }
  return kCalcNoError;
}

void TCalcEmitter::Negate(size_t start) {
  if (IsSingleLoad(start))
    code_.Items[start].Constant = -code_.Items[start].Constant;
  else
    Emit(kCalcNeg);
}

int32_t TCalcEmitter::Call(const Ref<TCalcFunc>& f, const std::vector<size_t>& arg_starts) {
  const size_t n = arg_starts.size();
  KAV_ASSERT(n == static_cast<size_t>(f->ArgCount()));
  // How many trailing arguments compiled to a single load.
  size_t constants = 0;
  while (constants < n) {
    const size_t i = n - 1 - constants;
    const size_t end = i + 1 < n ? arg_starts[i + 1] : Size();
    if (end != arg_starts[i] + 1 || code_.Items[arg_starts[i]].Opcode != kCalcLoad) break;
    ++constants;
  }

  if (f->Pure() && constants == n) {
    // Evaluate now; the loads become one load of the result.
    TCalcStack stack;
    for (size_t i = 0; i < n; ++i) CalcStackPush(stack, code_.Items[arg_starts[i]].Constant);
    try {
      f->Evaluate(stack);
    } catch (const std::exception&) {
      return kCalcFunctionCallError;
    }
    if (stack.Count != 1 || !std::isfinite(stack.Top)) return kCalcFunctionCallError;
    DropLast(n);
    Load(stack.Top);
    return kCalcNoError;
  }

  if (constants > 0) {
    std::vector<double> values;
    for (size_t i = n - constants; i < n; ++i) values.push_back(code_.Items[arg_starts[i]].Constant);
    Ref<TCalcFunc> replacement;
    if (f->Optimize(values, replacement)) {
      KAV_ASSERT(replacement);
      const size_t m = static_cast<size_t>(replacement->ArgCount());
      KAV_ASSERT(m < n && m + constants >= n);
      DropLast(n - m);
      Emit(kCalcCall + static_cast<int32_t>(m), 0, replacement);
      return kCalcNoError;
    }
  }

  Emit(kCalcCall + static_cast<int32_t>(n), 0, f);
  return kCalcNoError;
}

}  // namespace kav
