#include "platform/host/lisp.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <string>
#include <utility>

#include "platform/host/acdbcore.h"
#include "platform/host/units.h"
#include "platform/win/locale.h"

namespace sheetwise::host {
namespace {

struct Value;
using List = std::vector<Value>;

// Lists are vectors rather than cons chains so that a long list is freed, copied and printed
// without one stack frame per element; only nesting recurses, and nesting is limited.
struct Value {
  enum class Kind { kNil, kInt, kReal, kString, kSymbol, kList };
  Kind kind = Kind::kNil;
  std::int32_t integer = 0;
  double real = 0.0;
  std::wstring text;                  // a string's contents; a symbol's name in upper case
  std::shared_ptr<const List> items;  // kList: one element at least
  std::shared_ptr<const Value> tail;  // kList: the atom after the dot of a dotted list

  static Value Int(std::int32_t v) {
    Value r;
    r.kind = Kind::kInt;
    r.integer = v;
    return r;
  }
  static Value Real(double v) {
    Value r;
    r.kind = Kind::kReal;
    r.real = v;
    return r;
  }
  static Value String(std::wstring s) {
    Value r;
    r.kind = Kind::kString;
    r.text = std::move(s);
    return r;
  }
  static Value Symbol(std::wstring_view name) {
    Value r;
    r.kind = Kind::kSymbol;
    // Symbols print in upper case; folding the name for look-ups is done where it is needed.
    for (wchar_t c : name) r.text += (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return r;
  }
  // (a . (b c)) is (a b c) and (a . nil) is (a): only an atom stays behind the dot.
  static Value MakeList(List items, std::shared_ptr<const Value> tail = nullptr) {
    if (tail && tail->IsNil()) tail = nullptr;
    if (tail && tail->kind == Kind::kList) {
      std::shared_ptr<const Value> rest = std::move(tail);
      items.insert(items.end(), rest->items->begin(), rest->items->end());
      tail = rest->tail;
    }
    if (items.empty()) return Value{};
    Value r;
    r.kind = Kind::kList;
    r.items = std::make_shared<const List>(std::move(items));
    r.tail = std::move(tail);
    return r;
  }
  static Value T() { return Symbol(L"T"); }
  // What (princ) returns: a symbol without a name, which the command line does not echo.
  static Value Silent() {
    Value r;
    r.kind = Kind::kSymbol;
    return r;
  }

  bool IsNil() const { return kind == Kind::kNil; }
  bool IsNumber() const { return kind == Kind::kInt || kind == Kind::kReal; }
  double AsDouble() const { return kind == Kind::kInt ? integer : real; }
};

// An error that stops the evaluation; the message is printed after "; error: ".
struct LispError {
  std::wstring message;
};

[[noreturn]] void Fail(std::wstring message) {
  throw LispError{std::move(message)};
}

constexpr wchar_t kStackLimit[] =
    L"Hard error occurred *** internal stack limit reached (simulated)";

// ---------------------------------------------------------------------------------------------
// Printing

std::wstring FormatReal(double v) {
  if (std::isnan(v)) return L"-1.#IND";
  if (std::isinf(v)) return v > 0 ? L"1.#INF" : L"-1.#INF";
  // Six significant digits as the host's printer writes them, always with a decimal point in
  // the mantissa and a three-digit exponent (the Windows runtime's form): 2.5, 1.0e+020.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  std::string s = buf;
  std::string mantissa = s;
  std::string exponent;
  if (auto e = s.find('e'); e != std::string::npos) {
    mantissa = s.substr(0, e);
    std::string digits = s.substr(e + 2);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    exponent = s.substr(e, 2) + digits;
  }
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  std::string out = mantissa + exponent;
  return std::wstring(out.begin(), out.end());
}

void AppendEscaped(std::wstring& out, const std::wstring& text) {
  out += L'"';
  for (wchar_t c : text) {
    switch (c) {
      case L'"':
        out += L"\\\"";
        break;
      case L'\\':
        out += L"\\\\";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\t':
        out += L"\\t";
        break;
      case 27:
        out += L"\\e";
        break;
      default:
        if (c < 32 || c == 127) {
          wchar_t octal[8];
          std::swprintf(octal, 8, L"\\%03o", static_cast<unsigned>(c));
          out += octal;
        } else {
          out += c;
        }
    }
  }
  out += L'"';
}

// `escape` true is prin1's form (strings quoted), false princ's (strings as they are).
void AppendPrinted(std::wstring& out, const Value& v, bool escape) {
  switch (v.kind) {
    case Value::Kind::kNil:
      out += L"nil";
      break;
    case Value::Kind::kInt:
      out += std::to_wstring(v.integer);
      break;
    case Value::Kind::kReal:
      out += FormatReal(v.real);
      break;
    case Value::Kind::kString:
      if (escape) {
        AppendEscaped(out, v.text);
      } else {
        out += v.text;
      }
      break;
    case Value::Kind::kSymbol:
      out += v.text;
      break;
    case Value::Kind::kList: {
      out += L'(';
      bool first = true;
      for (const Value& item : *v.items) {
        if (!first) out += L' ';
        first = false;
        AppendPrinted(out, item, escape);
      }
      if (v.tail) {
        out += L" . ";
        AppendPrinted(out, *v.tail, escape);
      }
      out += L')';
      break;
    }
  }
}

std::wstring Printed(const Value& v, bool escape = true) {
  std::wstring out;
  AppendPrinted(out, v, escape);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Reading

bool IsDelimiter(wchar_t c) {
  return std::iswspace(static_cast<wint_t>(c)) || c == L'(' || c == L')' || c == L'\'' ||
         c == L'"' || c == L';';
}

bool IsDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

// A token that is a number: an integer, or a real with a fraction or an exponent. Returns
// nullopt for a symbol. Integers beyond 32 bits become reals, as the host reads them.
std::optional<Value> ParseNumber(std::wstring_view token) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == L'+' || token[i] == L'-')) ++i;
  std::size_t int_digits = 0;
  while (i + int_digits < token.size() && IsDigit(token[i + int_digits])) ++int_digits;
  std::size_t p = i + int_digits;
  bool is_real = false;
  if (p < token.size() && token[p] == L'.') {
    if (int_digits == 0) {
      // ".5" and "-.5": the host insists on a leading zero.
      if (p + 1 < token.size() && IsDigit(token[p + 1])) Fail(L"misplaced dot on input");
      return std::nullopt;
    }
    is_real = true;
    ++p;
    while (p < token.size() && IsDigit(token[p])) ++p;
  }
  if (int_digits == 0) return std::nullopt;
  if (p < token.size() && (token[p] == L'e' || token[p] == L'E')) {
    std::size_t q = p + 1;
    if (q < token.size() && (token[q] == L'+' || token[q] == L'-')) ++q;
    std::size_t exp_digits = 0;
    while (q + exp_digits < token.size() && IsDigit(token[q + exp_digits])) ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
    is_real = true;
    p = q + exp_digits;
  }
  if (p != token.size()) return std::nullopt;
  std::string narrow(token.begin(), token.end());  // ASCII only: checked above
  const char* first = narrow.data() + (narrow[0] == '+' ? 1 : 0);
  const char* last = narrow.data() + narrow.size();
  if (!is_real) {
    std::int32_t v = 0;
    auto [end, ec] = std::from_chars(first, last, v);
    if (ec == std::errc() && end == last) return Value::Int(v);
  }
  double d = 0.0;
  auto [end, ec] = std::from_chars(first, last, d);
  if (ec == std::errc::result_out_of_range) {
    Fail(L"invalid number: " + std::wstring(token));
  }
  return Value::Real(d);
}

class Reader {
 public:
  explicit Reader(std::wstring_view text) : text_(text) {}

  // The next top-level expression; nullopt at the end of the text.
  std::optional<Value> Next() {
    SkipBlank();
    if (pos_ >= text_.size()) return std::nullopt;
    if (text_[pos_] == L')') Fail(L"extra right paren on input");
    return Read(0);
  }

 private:
  void SkipBlank() {
    while (pos_ < text_.size()) {
      wchar_t c = text_[pos_];
      if (std::iswspace(static_cast<wint_t>(c))) {
        ++pos_;
      } else if (c == L';') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'|') {
          std::size_t end = text_.find(L"|;", pos_ + 2);
          pos_ = end == std::wstring_view::npos ? text_.size() : end + 2;
        } else {
          std::size_t end = text_.find(L'\n', pos_);
          pos_ = end == std::wstring_view::npos ? text_.size() : end + 1;
        }
      } else {
        return;
      }
    }
  }

  Value Read(int depth) {
    if (depth >= kMaxLispNesting) Fail(kStackLimit);
    wchar_t c = text_[pos_];
    if (c == L'(') {
      ++pos_;
      return ReadList(depth);
    }
    if (c == L'\'') {
      ++pos_;
      SkipBlank();
      if (pos_ >= text_.size() || text_[pos_] == L')') Fail(L"malformed list on input");
      Value quoted = Read(depth + 1);
      return Value::MakeList({Value::Symbol(L"QUOTE"), std::move(quoted)});
    }
    if (c == L'"') {
      ++pos_;
      return ReadString();
    }
    std::size_t start = pos_;
    while (pos_ < text_.size() && !IsDelimiter(text_[pos_])) ++pos_;
    std::wstring_view token = text_.substr(start, pos_ - start);
    if (token == L".") Fail(L"misplaced dot on input");
    if (auto number = ParseNumber(token)) return *number;
    if (EqualsNoCase(token, L"nil")) return Value{};
    return Value::Symbol(token);
  }

  Value ReadList(int depth) {
    List items;
    std::shared_ptr<const Value> tail;
    for (;;) {
      SkipBlank();
      if (pos_ >= text_.size()) Fail(L"malformed list on input");
      wchar_t c = text_[pos_];
      if (c == L')') {
        ++pos_;
        return Value::MakeList(std::move(items), std::move(tail));
      }
      if (tail) Fail(L"malformed list on input");  // something after the dotted tail
      if (c == L'.' && (pos_ + 1 >= text_.size() || IsDelimiter(text_[pos_ + 1]))) {
        ++pos_;
        SkipBlank();
        if (items.empty() || pos_ >= text_.size() || text_[pos_] == L')') {
          Fail(L"misplaced dot on input");
        }
        Value after = Read(depth + 1);
        // (a . (b c)) is (a b c) and (a . nil) is (a).
        if (after.kind == Value::Kind::kList) {
          items.insert(items.end(), after.items->begin(), after.items->end());
          tail = after.tail;
          SkipBlank();
          if (pos_ < text_.size() && text_[pos_] != L')') Fail(L"malformed list on input");
        } else if (!after.IsNil()) {
          tail = std::make_shared<const Value>(std::move(after));
        } else {
          SkipBlank();
          if (pos_ < text_.size() && text_[pos_] != L')') Fail(L"malformed list on input");
        }
        continue;
      }
      items.push_back(Read(depth + 1));
    }
  }

  Value ReadString() {
    std::wstring out;
    while (pos_ < text_.size()) {
      wchar_t c = text_[pos_++];
      if (c == L'"') return Value::String(std::move(out));
      if (c != L'\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      wchar_t e = text_[pos_++];
      switch (e) {
        case L'n':
          out += L'\n';
          break;
        case L'r':
          out += L'\r';
          break;
        case L't':
          out += L'\t';
          break;
        case L'e':
          out += static_cast<wchar_t>(27);
          break;
        default:
          if (e >= L'0' && e <= L'7') {
            // Up to three octal digits: "\101" is "A".
            unsigned code = static_cast<unsigned>(e - L'0');
            for (int k = 0;
                 k < 2 && pos_ < text_.size() && text_[pos_] >= L'0' && text_[pos_] <= L'7'; ++k) {
              code = code * 8 + static_cast<unsigned>(text_[pos_++] - L'0');
            }
            out += static_cast<wchar_t>(code);
          } else {
            out += e;  // \" \\ and any other character stand for themselves
          }
      }
    }
    Fail(L"malformed string on input");
  }

  std::wstring_view text_;
  std::size_t pos_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Result buffers

void FreeRb(resbuf* rb) {
  while (rb != nullptr) {
    resbuf* next = rb->rbnext;
    if (rb->restype == RTSTR) acutDelBuffer(rb->resval.rstring);
    delete rb;
    rb = next;
  }
}

struct RbDeleter {
  void operator()(resbuf* rb) const { FreeRb(rb); }
};
using RbPtr = std::unique_ptr<resbuf, RbDeleter>;

// Appends to a list under construction, keeping the end at hand.
class RbBuilder {
 public:
  resbuf* Add(short type) {
    auto* rb = new resbuf{};
    rb->restype = type;
    if (!head_) {
      head_.reset(rb);
    } else {
      last_->rbnext = rb;
    }
    last_ = rb;
    return rb;
  }
  void AddString(const std::wstring& text) {
    Add(RTSTR)->resval.rstring = acutNewString(text.c_str());
  }
  RbPtr Take() { return std::move(head_); }

 private:
  RbPtr head_;
  resbuf* last_ = nullptr;
};

// A list of two or three numbers that a command or a system variable takes as a point.
bool AddPoint(RbBuilder& out, const Value& v, bool reals_only) {
  if (v.kind != Value::Kind::kList || v.tail) return false;
  const List& items = *v.items;
  if (items.size() != 2 && items.size() != 3) return false;
  for (const Value& item : items) {
    if (reals_only ? item.kind != Value::Kind::kReal : !item.IsNumber()) return false;
  }
  resbuf* rb = out.Add(items.size() == 2 ? RTPOINT : RT3DPOINT);
  for (std::size_t k = 0; k < items.size(); ++k) rb->resval.rpoint[k] = items[k].AsDouble();
  return true;
}

// Atoms as an application reads them; false for what a result buffer cannot hold.
bool AddAtom(RbBuilder& out, const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNil:
      out.Add(RTNIL);
      return true;
    case Value::Kind::kInt:
      if (v.integer >= std::numeric_limits<short>::min() &&
          v.integer <= std::numeric_limits<short>::max()) {
        out.Add(RTSHORT)->resval.rint = static_cast<short>(v.integer);
      } else {
        out.Add(RTLONG)->resval.rlong = v.integer;
      }
      return true;
    case Value::Kind::kReal:
      out.Add(RTREAL)->resval.rreal = v.real;
      return true;
    case Value::Kind::kString:
      out.AddString(v.text);
      return true;
    case Value::Kind::kSymbol:
      if (v.text == L"T") {
        out.Add(RTT);
        return true;
      }
      return false;
    case Value::Kind::kList:
      return false;
  }
  return false;
}

// An argument of an application function: lists nest as RTLB ... RTLE.
void AddArgument(RbBuilder& out, const Value& v) {
  if (v.kind != Value::Kind::kList) {
    if (!AddAtom(out, v)) Fail(L"bad argument type: " + Printed(v));
    return;
  }
  if (AddPoint(out, v, true)) return;
  out.Add(RTLB);
  for (const Value& item : *v.items) AddArgument(out, item);
  if (v.tail) {
    out.Add(RTDOTE);
    AddArgument(out, *v.tail);
  }
  out.Add(RTLE);
}

// One value of a list that an application returns (acedRetVal, acedRetList); advances `rb`.
// Returns false for a malformed list (unbalanced RTLB / RTLE, an unknown type).
bool ValueFromRb(const resbuf*& rb, Value& out, int depth) {
  if (depth >= kMaxLispNesting || rb == nullptr) return false;
  const resbuf* r = rb;
  rb = rb->rbnext;
  switch (r->restype) {
    case RTNIL:
      out = Value{};
      return true;
    case RTT:
      out = Value::T();
      return true;
    case RTVOID:
      out = Value::Silent();
      return true;
    case RTSHORT:
      out = Value::Int(r->resval.rint);
      return true;
    case RTLONG:
      out = Value::Int(r->resval.rlong);
      return true;
    case RTREAL:
    case RTANG:
    case RTORINT:
      out = Value::Real(r->resval.rreal);
      return true;
    case RTSTR:
      out = Value::String(r->resval.rstring ? r->resval.rstring : L"");
      return true;
    case RTPOINT:
    case RT3DPOINT: {
      List items;
      int n = r->restype == RTPOINT ? 2 : 3;
      for (int k = 0; k < n; ++k) items.push_back(Value::Real(r->resval.rpoint[k]));
      out = Value::MakeList(std::move(items));
      return true;
    }
    case RTLB: {
      List items;
      std::shared_ptr<const Value> tail;
      for (;;) {
        if (rb == nullptr) return false;
        if (rb->restype == RTLE) {
          rb = rb->rbnext;
          out = Value::MakeList(std::move(items), std::move(tail));
          return true;
        }
        if (tail) return false;
        if (rb->restype == RTDOTE) {
          rb = rb->rbnext;
          Value after;
          if (items.empty() || !ValueFromRb(rb, after, depth + 1)) return false;
          tail = std::make_shared<const Value>(std::move(after));
          continue;
        }
        Value item;
        if (!ValueFromRb(rb, item, depth + 1)) return false;
        items.push_back(std::move(item));
      }
    }
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------------
// The function being invoked

struct Invocation {
  int code = 0;
  RbPtr args;
  Value result;
  std::optional<std::wstring> failure;  // acdbFail's message
};

// The innermost invocation; an application function that makes LISP call another function
// stacks a new one, restored when that returns. Main thread only.
Invocation* g_invocation = nullptr;
LispContext* g_current = nullptr;

class InvocationScope {
 public:
  explicit InvocationScope(Invocation& inv) : saved_(g_invocation) { g_invocation = &inv; }
  ~InvocationScope() { g_invocation = saved_; }
  InvocationScope(const InvocationScope&) = delete;
  InvocationScope& operator=(const InvocationScope&) = delete;

 private:
  Invocation* saved_;
};

bool IsValidFunctionName(std::wstring_view name) {
  if (name.empty()) return false;
  for (wchar_t c : name) {
    if (IsDelimiter(c) || c < 32) return false;
  }
  if (name == L"." || EqualsNoCase(name, L"nil") || EqualsNoCase(name, L"T")) return false;
  try {
    return !ParseNumber(name).has_value();
  } catch (const LispError&) {
    return false;  // ".5": not a number, but not a symbol either
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The evaluator

class LispContext::Evaluator {
 public:
  explicit Evaluator(LispContext& owner) : owner_(owner) {}

  Value Eval(const Value& form) {
    DepthGuard guard(depth_);
    switch (form.kind) {
      case Value::Kind::kSymbol: {
        if (form.text == L"T" || form.text.empty()) return form;
        auto it = variables_.find(FoldCase(form.text));
        return it == variables_.end() ? Value{} : it->second;
      }
      case Value::Kind::kList:
        return EvalCall(form);
      default:
        return form;
    }
  }

  // Calls the application function `fn` with evaluated arguments.
  Value CallApplication(const Function& fn, const List& args) {
    RbBuilder rb;
    for (const Value& a : args) AddArgument(rb, a);
    Invocation inv;
    inv.code = fn.code;
    inv.args = rb.Take();
    int status = RTERROR;
    {
      InvocationScope scope(inv);
      auto handler = owner_.handlers_.find(fn.code);
      if (handler != owner_.handlers_.end()) {
        status = handler->second();
      } else if (owner_.hooks_.invoke) {
        status = owner_.hooks_.invoke(fn.code, fn.application);
      } else {
        Fail(L"ADS request error");
      }
    }
    if (inv.failure) Fail(*inv.failure);
    if (status != RTNORM) Fail(L"function failed: " + Value::Symbol(fn.name).text);
    return inv.result;
  }

  void Print(const std::wstring& text) {
    if (owner_.hooks_.print) owner_.hooks_.print(text);
  }

 private:
  class DepthGuard {
   public:
    explicit DepthGuard(int& depth) : depth_(depth) {
      if (depth_ >= 2 * kMaxLispNesting) Fail(kStackLimit);
      ++depth_;
    }
    ~DepthGuard() { --depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    int& depth_;
  };

  Value EvalCall(const Value& form) {
    if (form.tail) Fail(L"bad argument type: listp " + Printed(form));
    const List& items = *form.items;
    const Value& head = items.front();
    if (head.kind != Value::Kind::kSymbol || head.text.empty()) {
      Fail(L"bad function: " + Printed(head));
    }
    std::wstring key = FoldCase(head.text);
    List rest(items.begin() + 1, items.end());

    // Special forms: their arguments are not evaluated up front.
    if (key == L"quote") {
      Arity(rest, 1, 1);
      return rest[0];
    }
    if (key == L"setq") return Setq(rest);
    if (key == L"if") {
      Arity(rest, 2, 3);
      if (!Eval(rest[0]).IsNil()) return Eval(rest[1]);
      return rest.size() == 3 ? Eval(rest[2]) : Value{};
    }
    if (key == L"progn") {
      Value last;
      for (const Value& f : rest) last = Eval(f);
      return last;
    }

    // Application functions come first so that an application may replace a built-in.
    if (auto fn = owner_.functions_.find(key); fn != owner_.functions_.end()) {
      Function called = fn->second;  // the table may change while the application runs
      return CallApplication(called, EvalArgs(rest));
    }
    if (auto b = Builtins().find(key); b != Builtins().end()) {
      return (this->*(b->second))(EvalArgs(rest));
    }
    Fail(L"no function definition: " + head.text);
  }

  List EvalArgs(const List& forms) {
    List out;
    out.reserve(forms.size());
    for (const Value& f : forms) out.push_back(Eval(f));
    return out;
  }

  static void Arity(const List& args, std::size_t min, std::size_t max) {
    if (args.size() < min) Fail(L"too few arguments");
    if (args.size() > max) Fail(L"too many arguments");
  }

  static const std::wstring& StringArg(const Value& v) {
    if (v.kind != Value::Kind::kString) Fail(L"bad argument type: stringp " + Printed(v));
    return v.text;
  }
  static std::int32_t IntArg(const Value& v) {
    if (v.kind != Value::Kind::kInt) Fail(L"bad argument type: fixnump: " + Printed(v));
    return v.integer;
  }
  static const Value& NumberArg(const Value& v) {
    if (!v.IsNumber()) Fail(L"bad argument type: numberp: " + Printed(v));
    return v;
  }

  Value Setq(const List& rest) {
    if (rest.empty() || rest.size() % 2 != 0) Fail(L"too few arguments");
    Value last;
    for (std::size_t k = 0; k < rest.size(); k += 2) {
      const Value& name = rest[k];
      if (name.kind != Value::Kind::kSymbol || name.text.empty() || name.text == L"T") {
        Fail(L"bad argument type: symbolp " + Printed(name));
      }
      last = Eval(rest[k + 1]);
      variables_[FoldCase(name.text)] = last;
    }
    return last;
  }

  // Integers wrap at 32 bits as the host's do; a real operand makes the result real.
  template <typename IntOp, typename RealOp>
  static Value Fold(const List& args, Value start, IntOp int_op, RealOp real_op) {
    Value acc = std::move(start);
    for (const Value& a : args) {
      NumberArg(a);
      if (acc.kind == Value::Kind::kInt && a.kind == Value::Kind::kInt) {
        acc = Value::Int(int_op(acc.integer, a.integer));
      } else {
        acc = Value::Real(real_op(acc.AsDouble(), a.AsDouble()));
      }
    }
    return acc;
  }

  static std::int32_t Wrap(std::int64_t v) { return static_cast<std::int32_t>(v); }

  Value Plus(const List& args) {
    return Fold(
        args, Value::Int(0),
        [](std::int32_t a, std::int32_t b) { return Wrap(std::int64_t{a} + b); },
        [](double a, double b) { return a + b; });
  }
  Value Times(const List& args) {
    if (args.empty()) return Value::Int(0);
    NumberArg(args[0]);
    return Fold(
        List(args.begin() + 1, args.end()), args[0],
        [](std::int32_t a, std::int32_t b) { return Wrap(std::int64_t{a} * b); },
        [](double a, double b) { return a * b; });
  }
  Value Minus(const List& args) {
    if (args.empty()) return Value::Int(0);
    NumberArg(args[0]);
    if (args.size() == 1) {
      return args[0].kind == Value::Kind::kInt ? Value::Int(Wrap(-std::int64_t{args[0].integer}))
                                               : Value::Real(-args[0].real);
    }
    return Fold(
        List(args.begin() + 1, args.end()), args[0],
        [](std::int32_t a, std::int32_t b) { return Wrap(std::int64_t{a} - b); },
        [](double a, double b) { return a - b; });
  }
  Value Divide(const List& args) {
    if (args.empty()) return Value::Int(0);
    NumberArg(args[0]);
    for (std::size_t k = 1; k < args.size(); ++k) {
      if (NumberArg(args[k]).AsDouble() == 0.0) Fail(L"divide by zero");
    }
    return Fold(
        List(args.begin() + 1, args.end()), args[0],
        // Integer division truncates toward zero; the 64-bit quotient wraps INT_MIN / -1.
        [](std::int32_t a, std::int32_t b) { return Wrap(std::int64_t{a} / b); },
        [](double a, double b) { return a / b; });
  }

  static bool Same(const Value& a, const Value& b) {
    if (a.IsNumber() && b.IsNumber()) return a.AsDouble() == b.AsDouble();
    if (a.kind != b.kind) return false;
    switch (a.kind) {
      case Value::Kind::kNil:
        return true;
      case Value::Kind::kString:
      case Value::Kind::kSymbol:
        return a.text == b.text;
      case Value::Kind::kList:
        return a.items == b.items && a.tail == b.tail;  // the same list
      default:
        return false;
    }
  }

  Value Equal(const List& args) {
    Arity(args, 1, std::numeric_limits<std::size_t>::max());
    for (std::size_t k = 1; k < args.size(); ++k) {
      if (!Same(args[k - 1], args[k])) return Value{};
    }
    return Value::T();
  }

  Value Not(const List& args) {
    Arity(args, 1, 1);
    return args[0].IsNil() ? Value::T() : Value{};
  }

  Value Strcat(const List& args) {
    std::wstring out;
    for (const Value& a : args) out += StringArg(a);
    return Value::String(std::move(out));
  }

  Value Itoa(const List& args) {
    Arity(args, 1, 1);
    return Value::String(std::to_wstring(IntArg(args[0])));
  }

  // atoi and atof read a leading number as the C runtime does and give 0 for anything else.
  static std::string NumericPrefix(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
    std::string out;
    for (; i < text.size() && text[i] < 128; ++i) out += static_cast<char>(text[i]);
    return out;
  }

  Value Atoi(const List& args) {
    Arity(args, 1, 1);
    std::string s = NumericPrefix(StringArg(args[0]));
    std::size_t start = (!s.empty() && s[0] == '+') ? 1 : 0;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data() + start, s.data() + s.size(), v);
    if (ec == std::errc::result_out_of_range) {
      v = (s.size() > start && s[start] == '-') ? std::numeric_limits<std::int32_t>::min()
                                                : std::numeric_limits<std::int32_t>::max();
    } else if (ec != std::errc()) {
      v = 0;
    }
    if (v > std::numeric_limits<std::int32_t>::max()) v = std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) v = std::numeric_limits<std::int32_t>::min();
    return Value::Int(static_cast<std::int32_t>(v));
  }

  Value Atof(const List& args) {
    Arity(args, 1, 1);
    std::string s = NumericPrefix(StringArg(args[0]));
    std::size_t start = (!s.empty() && s[0] == '+') ? 1 : 0;
    // from_chars does not read "inf" and "nan" as numbers here: the runtime's atof on Windows
    // does not either.
    if (s.size() > start && !std::isdigit(static_cast<unsigned char>(s[start])) &&
        s[start] != '-' && s[start] != '.') {
      return Value::Real(0.0);
    }
    double v = 0.0;
    auto [end, ec] =
        std::from_chars(s.data() + start, s.data() + s.size(), v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
      bool negative = s.size() > start && s[start] == '-';
      // Underflow reads as zero, overflow as infinity, as strtod answers.
      std::size_t e = s.find_first_of("eE", start);
      bool tiny = e != std::string::npos && e + 1 < s.size() && s[e + 1] == '-';
      v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
      if (negative) v = -v;
    } else if (ec != std::errc()) {
      v = 0.0;
    }
    return Value::Real(v);
  }

  Value Rtos(const List& args) {
    Arity(args, 1, 3);
    double v = NumberArg(args[0]).AsDouble();
    int mode = args.size() >= 2 && !args[1].IsNil() ? IntArg(args[1]) : -1;
    int prec = args.size() >= 3 && !args[2].IsNil() ? IntArg(args[2]) : -1;
    UnitText text = FormatDistance(v, mode, prec, CurrentUnitSettings());
    if (text.status != RTNORM) {
      Fail(L"bad argument value: " + (text.error.empty() ? Printed(args[0]) : text.error));
    }
    return Value::String(std::move(text.text));
  }

  Value Getvar(const List& args) {
    Arity(args, 1, 1);
    const std::wstring& name = StringArg(args[0]);
    if (!owner_.hooks_.getvar) return Value{};
    resbuf rb{};
    rb.restype = RTNONE;
    int status = owner_.hooks_.getvar(name, &rb);
    Value out;
    if (status == RTNORM) {
      const resbuf* p = &rb;
      rb.rbnext = nullptr;
      if (!ValueFromRb(p, out, 0)) out = Value{};
    }
    if (rb.restype == RTSTR) acutDelBuffer(rb.resval.rstring);
    return out;
  }

  Value Setvar(const List& args) {
    Arity(args, 2, 2);
    const std::wstring& name = StringArg(args[0]);
    const Value& v = args[1];
    RbBuilder rb;
    bool ok = AddPoint(rb, v, false) || (v.kind != Value::Kind::kList && AddAtom(rb, v));
    RbPtr value = rb.Take();
    if (!ok || !owner_.hooks_.setvar || owner_.hooks_.setvar(name, value.get()) != RTNORM) {
      std::wstring quoted;
      AppendEscaped(quoted, name);
      Fail(L"AutoCAD variable setting rejected: " + quoted + L" " + Printed(v));
    }
    return v;
  }

  Value Command(const List& args) {
    RbBuilder rb;
    for (const Value& a : args) {
      if (!AddPoint(rb, a, false) && (a.kind == Value::Kind::kList || !AddAtom(rb, a))) {
        Fail(L"bad argument type: " + Printed(a));
      }
    }
    RbPtr list = rb.Take();
    if (owner_.hooks_.command && owner_.hooks_.command(list.get()) == RTCAN) {
      Fail(L"Function cancelled");
    }
    return Value{};
  }

  Value PrintWith(const List& args, bool escape, const wchar_t* before, const wchar_t* after) {
    Arity(args, 0, 2);
    if (args.size() == 2 && !args[1].IsNil()) {
      Fail(L"bad argument type: filep " + Printed(args[1]));
    }
    if (args.empty()) return Value::Silent();
    Print(before + Printed(args[0], escape) + after);
    return args[0];
  }
  Value Princ(const List& args) { return PrintWith(args, false, L"", L""); }
  Value Prin1(const List& args) { return PrintWith(args, true, L"", L""); }
  Value PrintFn(const List& args) { return PrintWith(args, true, L"\n", L" "); }
  Value Terpri(const List& args) {
    Arity(args, 0, 0);
    Print(L"\n");
    return Value{};
  }

  using Builtin = Value (Evaluator::*)(const List&);
  static const std::map<std::wstring, Builtin>& Builtins() {
    static const std::map<std::wstring, Builtin> table = {
        {L"+", &Evaluator::Plus},        {L"-", &Evaluator::Minus},
        {L"*", &Evaluator::Times},       {L"/", &Evaluator::Divide},
        {L"=", &Evaluator::Equal},       {L"not", &Evaluator::Not},
        {L"strcat", &Evaluator::Strcat}, {L"itoa", &Evaluator::Itoa},
        {L"atoi", &Evaluator::Atoi},     {L"atof", &Evaluator::Atof},
        {L"rtos", &Evaluator::Rtos},     {L"getvar", &Evaluator::Getvar},
        {L"setvar", &Evaluator::Setvar}, {L"command", &Evaluator::Command},
        {L"princ", &Evaluator::Princ},   {L"prin1", &Evaluator::Prin1},
        {L"print", &Evaluator::PrintFn}, {L"terpri", &Evaluator::Terpri},
    };
    return table;
  }

  LispContext& owner_;
  std::map<std::wstring, Value> variables_;  // keyed by FoldCase(name)
  int depth_ = 0;
};

// ---------------------------------------------------------------------------------------------
// LispContext

LispContext::LispContext(LispHooks hooks)
    : hooks_(std::move(hooks)), evaluator_(std::make_unique<Evaluator>(*this)) {}

LispContext::~LispContext() {
  if (g_current == this) g_current = nullptr;
}

void LispContext::SetCurrent(LispContext* context) {
  g_current = context;
}

LispContext* LispContext::Current() {
  return g_current;
}

std::wstring LispContext::Evaluate(std::wstring_view text) {
  last_error_.clear();
  Reader reader(text);
  std::wstring echo;
  try {
    while (auto form = reader.Next()) echo = Printed(evaluator_->Eval(*form));
  } catch (const LispError& e) {
    last_error_ = e.message;
    evaluator_->Print(L"; error: " + e.message + L"\n");
    return {};
  }
  return echo;
}

std::optional<int> LispContext::FunctionCode(std::wstring_view name) const {
  auto it = functions_.find(FoldCase(name));
  if (it == functions_.end()) return std::nullopt;
  return it->second.code;
}

std::optional<int> LispContext::CommandFunction(std::wstring_view command_name) const {
  if (command_name.empty()) return std::nullopt;
  return FunctionCode(L"C:" + std::wstring(command_name));
}

bool LispContext::RunCommand(std::wstring_view command_name) {
  last_error_.clear();
  if (command_name.empty()) return false;
  auto it = functions_.find(FoldCase(L"C:" + std::wstring(command_name)));
  if (it == functions_.end()) return false;
  Function fn = it->second;
  try {
    evaluator_->CallApplication(fn, {});
  } catch (const LispError& e) {
    last_error_ = e.message;
    evaluator_->Print(L"; error: " + e.message + L"\n");
    return false;
  }
  return true;
}

int LispContext::RunRegistered(int code) {
  auto it = handlers_.find(code);
  if (it == handlers_.end()) return RTERROR;
  auto handler = it->second;
  Invocation inv;
  inv.code = code;
  InvocationScope scope(inv);
  return handler();
}

void LispContext::Queue(std::wstring expression) {
  queue_.push_back(std::move(expression));
}

std::vector<std::wstring> LispContext::TakeQueued() {
  return std::exchange(queue_, {});
}

int LispContext::Define(std::wstring_view name, int code) {
  if (code < 0 || !IsValidFunctionName(name)) return RTERROR;
  functions_[FoldCase(name)] =
      Function{std::wstring(name), code, hooks_.application ? hooks_.application() : nullptr};
  return RTNORM;
}

int LispContext::Undefine(std::wstring_view name, int code) {
  auto it = functions_.find(FoldCase(name));
  if (it == functions_.end() || it->second.code != code) return RTERROR;
  functions_.erase(it);
  return RTNORM;
}

int LispContext::Register(int (*handler)(), int code) {
  if (code < 0) return RTERROR;
  if (handler == nullptr) {
    handlers_.erase(code);
  } else {
    handlers_[code] = handler;
  }
  return RTNORM;
}

}  // namespace sheetwise::host

// ---------------------------------------------------------------------------------------------
// The ObjectARX entry points

using sheetwise::host::g_current;
using sheetwise::host::g_invocation;

int acedDefun(const ACHAR* name, int code) {
  if (g_current == nullptr || name == nullptr) return RTERROR;
  return g_current->Define(name, code);
}

int acedUndef(const ACHAR* name, int code) {
  if (g_current == nullptr || name == nullptr) return RTERROR;
  return g_current->Undefine(name, code);
}

int acedRegFunc(int (*handler)(), int code) {
  if (g_current == nullptr) return RTERROR;
  return g_current->Register(handler, code);
}

int acedGetFunCode() {
  return g_invocation != nullptr ? g_invocation->code : RTERROR;
}

resbuf* acedGetArgs() {
  return g_invocation != nullptr ? g_invocation->args.get() : nullptr;
}

namespace {

int SetResult(sheetwise::host::Value value) {
  if (g_invocation == nullptr) return RTERROR;
  g_invocation->result = std::move(value);
  return RTNORM;
}

}  // namespace

int acedRetVoid() {
  return SetResult(sheetwise::host::Value::Silent());
}

int acedRetNil() {
  return SetResult({});
}

int acedRetT() {
  return SetResult(sheetwise::host::Value::T());
}

int acedRetStr(const ACHAR* text) {
  if (text == nullptr) return RTERROR;
  return SetResult(sheetwise::host::Value::String(text));
}

int acedRetInt(int value) {
  return SetResult(sheetwise::host::Value::Int(value));
}

int acedRetReal(ads_real value) {
  return SetResult(sheetwise::host::Value::Real(value));
}

int acedRetPoint(const ads_point point) {
  using sheetwise::host::Value;
  if (point == nullptr) return RTERROR;
  return SetResult(
      Value::MakeList({Value::Real(point[0]), Value::Real(point[1]), Value::Real(point[2])}));
}

int acedRetVal(const resbuf* value) {
  if (g_invocation == nullptr || value == nullptr) return RTERROR;
  sheetwise::host::Value v;
  const resbuf* p = value;
  if (!sheetwise::host::ValueFromRb(p, v, 0)) return RTERROR;
  return SetResult(std::move(v));
}

int acedRetList(const resbuf* list) {
  using sheetwise::host::Value;
  if (g_invocation == nullptr) return RTERROR;
  sheetwise::host::List items;
  std::shared_ptr<const Value> tail;
  const resbuf* p = list;
  while (p != nullptr) {
    if (tail) return RTERROR;  // something after the dotted tail
    Value v;
    if (p->restype == RTDOTE) {
      p = p->rbnext;
      if (items.empty() || !sheetwise::host::ValueFromRb(p, v, 0)) return RTERROR;
      tail = std::make_shared<const Value>(std::move(v));
      continue;
    }
    if (!sheetwise::host::ValueFromRb(p, v, 0)) return RTERROR;
    items.push_back(std::move(v));
  }
  return SetResult(Value::MakeList(std::move(items), std::move(tail)));
}

int acdbFail(const ACHAR* message) {
  if (g_invocation == nullptr) return RTERROR;
  g_invocation->failure = message != nullptr ? message : L"";
  return RTNORM;
}

int ads_queueexpr(const ACHAR* expression) {
  if (g_current == nullptr || expression == nullptr) return RTERROR;
  g_current->Queue(expression);
  return RTNORM;
}
