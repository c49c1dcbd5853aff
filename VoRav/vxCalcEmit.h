// The calculator's code emitter and peephole optimiser, used by the parser.
// Internal to the calculator.
#pragma once

#include <cstddef>
#include <vector>

#include "VoRav/vxCalc.h"

namespace kav {

class TCalcEmitter {
 public:
  TCalcEmitter(TCalcCode& code, const TCalcTraceHook& trace) : code_(code), trace_(trace) {}

  size_t Size() const { return code_.Items.size(); }
  // The code from `start` to the end is exactly one load.
  bool IsSingleLoad(size_t start) const;

  void Emit(int32_t opcode, double constant = 0, Ref<TCalcFunc> func = nullptr);
  void Load(double value) { Emit(kCalcLoad, value); }

  // Compiles a two-operand operator ('+', '-', '*', '/') whose left operand's
  // code starts at left_start and right operand's at right_start (and runs to
  // the end). Returns an error code (0 on success).
  int32_t Binary(char op, size_t left_start, size_t right_start);
  // Negates the value whose code starts at `start`.
  void Negate(size_t start);
  // Compiles a call of f whose argument codes start at arg_starts (one per
  // argument, in order). Returns an error code (0 on success).
  int32_t Call(const Ref<TCalcFunc>& f, const std::vector<size_t>& arg_starts);

 private:
  void Drop(size_t index);
  void DropLast(size_t n);
  void AddConst(double c);
  void MulConst(double c);
  void SubFromConst(double c);

  TCalcCode& code_;
  const TCalcTraceHook& trace_;
};

}  // namespace kav
