// Helpers shared by the calculator tests: variables a resolver hands out, and
// compiling a text into its instruction listing.
#pragma once

#include <map>
#include <string>

#include "VoRav/vxCalc.h"

namespace kav::test {

// A variable: pushes the current value of a double it points at.
class TVar : public TCalcFunc {
 public:
  TVar(std::string name, const double* value) : TCalcFunc(std::move(name), false, 0), value_(value) {}
  void Evaluate(TCalcStack& stack) override { CalcStackPush(stack, *value_); }

 private:
  const double* value_;
};

// Resolves the names of its map to variables; anything else is unknown.
class TVarResolver {
 public:
  std::map<std::string, double> Values;

  Ref<TCalcFunc> Resolve(std::string_view name) {
    auto it = Values.find(std::string(name));
    if (it == Values.end()) return nullptr;
    return MakeRef<TVar>(it->first, &it->second);
  }
  TCalcResolver AsResolver() { return TCalcResolver::Bind<&TVarResolver::Resolve>(this); }
};

// Compiles `text`; returns the listing ("call x|mulc 2") or "error N: text".
inline std::string Compile(TExpressionParser0& p, const std::string& text, TCalcResolver resolver) {
  p.Text = text;
  if (!ParseExpression(p, 0, text.size(), resolver)) {
    std::string err = "error " + std::to_string(p.ErrorCode) + ":";
    for (char16_t c : p.ErrorText) err.push_back(static_cast<char>(c));
    return err;
  }
  std::string listing;
  for (const TCalcInstruction& in : p.Code.Items) {
    if (!listing.empty()) listing += '|';
    listing += CalcInstructionText(in);
  }
  return listing;
}

}  // namespace kav::test
