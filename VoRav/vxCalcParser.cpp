// The calculator's tokenizer and recursive-descent compiler.
//
//   expression = term { ("+" | "-") term }
//   term       = factor { ("*" | "/") factor }
//   factor     = { "+" | "-" } ( "(" expression ")" | primary )
//   primary    = number | identifier [ "(" expression { "," expression } ")" ]
//
// Every nesting level of parentheses or argument lists counts against
// TExpressionParser0::kMaxNesting, so hostile texts cannot exhaust the stack.
#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "VoRav/vxCalc.h"
#include "VoRav/vxCalcEmit.h"

namespace kav {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

std::u16string Ascii16(const char* s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}

// Numbers are read with the "C" conventions whatever the process locale is.
locale_t CLocale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}

class TCompiler {
 public:
  TCompiler(TExpressionParser0& p, TCalcResolver resolver)
      : p_(p), resolver_(resolver), emit_(p.Code, p.Trace) {}

  bool Run() {
    if (!NextToken() || !Expression()) return false;
    if (p_.Token != TExpressionParser0::kTokEnd) return Fail(kCalcExpected, u"Operator");
    return true;
  }

 private:
  bool Fail(int32_t code, const char16_t* text = nullptr) {
    p_.ErrorCode = code;
    p_.ErrorText = text ? std::u16string(text) : Ascii16(CalcErrorName(code));
    return false;
  }

  bool IsOp(char c) const {
    return p_.Token == TExpressionParser0::kTokOperator && p_.Text[p_.TokenStart] == c;
  }

  bool NextToken() {
    const std::string& t = p_.Text;
    const size_t end = p_.TextEnd;
    size_t i = p_.TokenEnd;
    while (i < end && static_cast<unsigned char>(t[i]) <= 32) ++i;
    p_.TokenStart = i;
    if (i >= end) {
      p_.Token = TExpressionParser0::kTokEnd;
      p_.TokenEnd = i;
      return true;
    }
    const char c = t[i];
    switch (c) {
      case '(': case ')': case '*': case '+': case ',': case '-': case '/':
        p_.Token = TExpressionParser0::kTokOperator;
        p_.TokenEnd = i + 1;
        return true;
      default: break;
    }
    if (IsDigit(c)) {
      while (i < end && IsDigit(t[i])) ++i;
      if (i < end && t[i] == '.') {
        ++i;
        while (i < end && IsDigit(t[i])) ++i;
      }
      if (i < end && (t[i] == 'E' || t[i] == 'e')) {
        ++i;
        if (i < end && (t[i] == '+' || t[i] == '-')) ++i;
        if (i >= end || !IsDigit(t[i])) {
          p_.TokenEnd = i;
          return Fail(kCalcInvalidNumber);
        }
        while (i < end && IsDigit(t[i])) ++i;
      }
      p_.Token = TExpressionParser0::kTokNumber;
      p_.TokenEnd = i;
      // The token holds only digits, one point and an exponent: strtod reads
      // all of it. Overflow is an invalid number; underflow gives 0 or a
      // denormal value, as the hardware would.
      const std::string digits = t.substr(p_.TokenStart, i - p_.TokenStart);
      number_ = strtod_l(digits.c_str(), nullptr, CLocale());
      if (std::isinf(number_)) return Fail(kCalcInvalidNumber);
      return true;
    }
    if (IsLetter(c)) {
      ++i;
      while (i < end && (IsLetter(t[i]) || IsDigit(t[i]) || t[i] == '.')) ++i;
      p_.Token = TExpressionParser0::kTokIdentifier;
      p_.TokenEnd = i;
      return true;
    }
    p_.Token = TExpressionParser0::kTokOther;
    p_.TokenEnd = i + 1;
    return true;
  }

  bool Expression() {
    if (++depth_ > TExpressionParser0::kMaxNesting) return Fail(kCalcTooComplex);
    const size_t start = emit_.Size();
    if (!Term()) return false;
    while (IsOp('+') || IsOp('-')) {
      const char op = p_.Text[p_.TokenStart];
      if (!NextToken()) return false;
      const size_t right = emit_.Size();
      if (!Term()) return false;
      if (int32_t e = emit_.Binary(op, start, right)) return Fail(e);
    }
    --depth_;
    return true;
  }

  bool Term() {
    const size_t start = emit_.Size();
    if (!Factor()) return false;
    while (IsOp('*') || IsOp('/')) {
      const char op = p_.Text[p_.TokenStart];
      if (!NextToken()) return false;
      const size_t right = emit_.Size();
      if (!Factor()) return false;
      if (int32_t e = emit_.Binary(op, start, right)) return Fail(e);
    }
    return true;
  }

  bool Factor() {
    bool negate = false;
    while (IsOp('+') || IsOp('-')) {
      if (IsOp('-')) negate = !negate;
      if (!NextToken()) return false;
    }
    const size_t start = emit_.Size();
    if (IsOp('(')) {
      if (!NextToken() || !Expression()) return false;
      if (!IsOp(')')) return Fail(kCalcExpected, u"Operator or \")\"");
      if (!NextToken()) return false;
    } else if (!Primary()) {
      return false;
    }
    if (negate) emit_.Negate(start);
    return true;
  }

  bool Primary() {
    if (p_.Token == TExpressionParser0::kTokNumber) {
      emit_.Load(number_);
      return NextToken();
    }
    if (p_.Token == TExpressionParser0::kTokIdentifier) return Identifier();
    return Fail(kCalcExpected, u"Expression");
  }

  bool Identifier() {
    const std::string_view name = std::string_view(p_.Text).substr(p_.TokenStart, p_.TokenEnd - p_.TokenStart);
    Ref<TCalcFunc> f;
    if (resolver_) f = resolver_(name);
    if (!f) f = FindCalcFunction(name);
    if (!f) return Fail(kCalcUnknownName);
    if (!NextToken()) return false;
    std::vector<size_t> arg_starts;
    const int32_t n = f->ArgCount();
    if (n > 0) {
      if (!IsOp('(')) return Fail(kCalcExpected, u"(");
      if (!NextToken()) return false;
      for (int32_t i = 0; i < n; ++i) {
        if (i > 0) {
          if (!IsOp(',')) return Fail(kCalcExpected, u",");
          if (!NextToken()) return false;
        }
        arg_starts.push_back(emit_.Size());
        if (!Expression()) return false;
      }
      if (!IsOp(')')) return Fail(kCalcExpected, u")");
      if (!NextToken()) return false;
    }
    if (int32_t e = emit_.Call(f, arg_starts)) return Fail(e);
    return true;
  }

  TExpressionParser0& p_;
  TCalcResolver resolver_;
  TCalcEmitter emit_;
  double number_ = 0;
  int depth_ = 0;
};

}  // namespace

bool ParseExpression(TExpressionParser0& parser, size_t start, size_t count, TCalcResolver resolver) {
  ClearCode(parser.Code);
  parser.Resolver = resolver;
  const size_t len = parser.Text.size();
  if (start > len) start = len;
  if (count > len - start) count = len - start;
  parser.TokenStart = parser.TokenEnd = start;
  parser.TextEnd = start + count;
  parser.Token = TExpressionParser0::kTokEnd;
  parser.ErrorCode = kCalcNoError;
  parser.ErrorText.clear();
  if (count > TExpressionParser0::kMaxTextLength) {
    parser.ErrorCode = kCalcTooComplex;
    parser.ErrorText = Ascii16(CalcErrorName(kCalcTooComplex));
    return false;
  }
  bool ok = false;
  try {
    ok = TCompiler(parser, resolver).Run();
  } catch (...) {
    ClearCode(parser.Code);
    throw;
  }
  if (!ok) ClearCode(parser.Code);
  return ok;
}

}  // namespace kav
