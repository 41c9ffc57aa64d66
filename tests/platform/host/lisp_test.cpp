// The host's LISP through what the host's core calls (LispContext) and what the application
// calls (acedDefun, acedGetArgs, acedRet*, ads_queueexpr ...).
//
// Where the expected texts come from is said per row:
//   [ref]   the host's AutoLISP reference: the examples of +, -, *, /, =, not, if, strcat, itoa,
//           atoi, atof, rtos, quote, and its "Integers" page ((+ 2147483646 3) returns
//           -2147483647; whole numbers beyond 32 bits are read as reals)
//   [msg]   the error messages the host prints, as users quote them ("; error: no function
//           definition: FOO", "; error: bad argument type: numberp: nil", "misplaced dot on
//           input" for .5 without its leading zero ...)
//   [ours]  this implementation's choice where the references are silent (see lisp.h)
#include "platform/host/lisp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/host/acdbcore.h"

namespace {

using sheetwise::host::LispContext;
using sheetwise::host::LispHooks;

// A document's LISP with its command-line output collected.
struct Doc {
  std::wstring output;
  std::vector<std::wstring> errors;
  LispContext lisp;

  explicit Doc(LispHooks hooks = {}) : lisp(WithPrint(std::move(hooks))) {}

  LispHooks WithPrint(LispHooks hooks) {
    hooks.print = [this](const std::wstring& text) {
      output += text;
      if (text.rfind(L"; error: ", 0) == 0) errors.push_back(text);
    };
    return hooks;
  }
};

// Makes `doc` current for the application's calls and restores "no document" afterwards.
class CurrentScope {
 public:
  explicit CurrentScope(LispContext& doc) { LispContext::SetCurrent(&doc); }
  ~CurrentScope() { LispContext::SetCurrent(nullptr); }
};

std::string N(const std::wstring& w) {
  std::string out;
  for (wchar_t c : w) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// An input, what it echoes or the error it reports, and where that text comes from.
struct Row {
  const wchar_t* input;
  const wchar_t* expected;
  const char* source;
};

TEST(LispEvaluate, EchoesValuesAsTheCommandLine) {
  const Row rows[] = {
      {L"(+ 1 2.0)", L"3.0", "[ref]"},
      {L"(+)", L"0", "[ref]"},
      {L"(- 50 40.0 2.5)", L"7.5", "[ref]"},
      {L"(/ 100 20.0 2)", L"2.5", "[ref]"},
      {L"(/ 135 360)", L"0", "[ref]"},
      {L"(/ -7 2)", L"-3", "[ref]"},
      {L"(+ 2147483646 3)", L"-2147483647", "[ref]"},
      {L"(/ -2147483648 -1)", L"-2147483648", "[ours]"},
      {L"2147483648", L"2.14748e+009", "[ref]"},
      {L"(/ 1.0 3)", L"0.333333", "[ref]"},
      {L"123456.7", L"123457.0", "[ref]"},
      {L"1e7", L"1.0e+007", "[ours]"},
      {L"0.00001", L"1.0e-005", "[ours]"},
      {L"1.", L"1.0", "[ours]"},
      {L"(= 4 4.0)", L"T", "[ref]"},
      {L"(= \"me\" \"me\")", L"T", "[ref]"},
      {L"(= 1 \"1\")", L"nil", "[ours]"},
      {L"(not nil)", L"T", "[ref]"},
      {L"(if (= 1 3) \"YES!!\" \"no.\")", L"\"no.\"", "[ref]"},
      {L"(if nil 1)", L"nil", "[ref]"},
      {L"(progn)", L"nil", "[ours]"},
      {L"(strcat \"a\" \"bout\")", L"\"about\"", "[ref]"},
      {L"(strcat)", L"\"\"", "[ref]"},
      {L"(itoa -17)", L"\"-17\"", "[ref]"},
      {L"(atoi \"3.9\")", L"3", "[ref]"},
      {L"(atoi \" -12abc\")", L"-12", "[ours]"},
      {L"(atoi \"abc\")", L"0", "[ours]"},
      {L"(atoi \"99999999999\")", L"2147483647", "[ours]"},
      {L"(atof \"3\")", L"3.0", "[ref]"},
      {L"(atof \"x\")", L"0.0", "[ours]"},
      {L"(atof \"2.5e3mm\")", L"2500.0", "[ours]"},
      {L"(rtos 17.5 4 2)", L"\"1'-5 1/2\\\"\"", "[ref]"},
      {L"(rtos 12 2 2)", L"\"12.00\"", "[ref]"},
      {L"(quote (1 \"a\" 2.5))", L"(1 \"a\" 2.5)", "[ref]"},
      {L"'(1 . 2)", L"(1 . 2)", "[ref]"},
      {L"'(a . (b c))", L"(A B C)", "[ours]"},
      {L"'(a . nil)", L"(A)", "[ours]"},
      {L"''a", L"(QUOTE A)", "[ref]"},
      {L"'()", L"nil", "[ref]"},
      {L"\"say \\\"hi\\\"\\n\\\\\"", L"\"say \\\"hi\\\"\\n\\\\\"", "[ref]"},
      {L"\"\\101\\tB\"", L"\"A\\tB\"", "[ref]"},
      {L"NIL", L"nil", "[ref]"},
      {L"unbound_var", L"nil", "[ref]"},
      {L"(setq a 2 b (* a 3)) (+ a b)", L"8", "[ref]"},
      {L"(SETQ Abc 5) abc", L"5", "[ref]"},
      {L"; a comment\n(+ 1 1) ; and another", L"2", "[ref]"},
      {L";| block\n comment |; 3", L"3", "[ref]"},
      {L"", L"", "[ours]"},
      {L"(princ)", L"", "[ref]"},
  };
  for (const Row& row : rows) {
    Doc doc;
    EXPECT_EQ(doc.lisp.Evaluate(row.input), row.expected) << N(row.input) << " " << row.source;
    EXPECT_TRUE(doc.errors.empty()) << N(row.input) << ": " << N(doc.output);
    EXPECT_TRUE(doc.lisp.LastError().empty()) << N(row.input);
  }
}

TEST(LispEvaluate, ReportsErrorsWithTheHostsMessages) {
  const Row rows[] = {
      {L"(foo 1)", L"no function definition: FOO", "[msg]"},
      {L"(+ 1 2", L"malformed list on input", "[msg]"},
      {L")", L"extra right paren on input", "[msg]"},
      {L"\"abc", L"malformed string on input", "[msg]"},
      {L"(strcat \"a\\\")", L"malformed string on input", "[msg]"},
      {L"(setq a .5)", L"misplaced dot on input", "[msg]"},
      {L"(1 . )", L"misplaced dot on input", "[ours]"},
      {L"'(1 . 2 3)", L"malformed list on input", "[ours]"},
      {L"(+ 1 \"a\")", L"bad argument type: numberp: \"a\"", "[msg]"},
      {L"(strcat \"a\" 1)", L"bad argument type: stringp 1", "[msg]"},
      {L"(itoa 1.5)", L"bad argument type: fixnump: 1.5", "[msg]"},
      {L"(setq 1 2)", L"bad argument type: symbolp 1", "[msg]"},
      {L"(setq t 2)", L"bad argument type: symbolp T", "[ours]"},
      {L"(/ 1 0)", L"divide by zero", "[msg]"},
      {L"(not)", L"too few arguments", "[msg]"},
      {L"(not 1 2)", L"too many arguments", "[msg]"},
      {L"(setq a)", L"too few arguments", "[msg]"},
      {L"(1 2)", L"bad function: 1", "[msg]"},
      {L"(princ 1 2)", L"bad argument type: filep 2", "[msg]"},
  };
  for (const Row& row : rows) {
    Doc doc;
    EXPECT_EQ(doc.lisp.Evaluate(row.input), L"") << N(row.input);
    EXPECT_EQ(doc.lisp.LastError(), row.expected) << N(row.input) << " " << row.source;
    ASSERT_EQ(doc.errors.size(), 1u) << N(row.input) << ": " << N(doc.output);
    EXPECT_EQ(doc.errors[0], L"; error: " + std::wstring(row.expected) + L"\n") << N(row.input);
  }

  // The error stops the text; what ran before it keeps its effect, the rest does not run.
  Doc doc;
  EXPECT_EQ(doc.lisp.Evaluate(L"(setq a 1) (setq b (foo)) (setq a 2)"), L"");
  EXPECT_EQ(doc.lisp.Evaluate(L"(list a b)"), L"");  // list is not built in
  EXPECT_EQ(doc.lisp.Evaluate(L"a"), L"1");
  EXPECT_EQ(doc.lisp.Evaluate(L"b"), L"nil");
  EXPECT_TRUE(doc.lisp.LastError().empty());
}

TEST(LispEvaluate, MalformedAndDeepInputNeverCrashes) {
  Doc doc;
  const std::size_t kDeep = 100000;
  const std::wstring stack_limit =
      L"Hard error occurred *** internal stack limit reached (simulated)";
  // Deep lists and quotes, closed and unclosed, stop with the host's stack-limit error.
  for (const std::wstring& text :
       {std::wstring(kDeep, L'('), std::wstring(kDeep, L'(') + L"1" + std::wstring(kDeep, L')'),
        std::wstring(kDeep, L'\'') + L"a",
        std::wstring(kDeep / 2, L'\'') + L"(" + std::wstring(kDeep / 2, L'(')}) {
    EXPECT_EQ(doc.lisp.Evaluate(text), L"");
    EXPECT_EQ(doc.lisp.LastError(), stack_limit);
  }
  // Nesting within the limit is evaluated, both in the reader and the evaluator.
  const int ok_depth = sheetwise::host::kMaxLispNesting - 10;
  std::wstring nested;
  for (int k = 0; k < ok_depth; ++k) nested += L"(+ 1 ";
  nested += L"0" + std::wstring(ok_depth, L')');
  EXPECT_EQ(doc.lisp.Evaluate(nested), std::to_wstring(ok_depth));
  // Long flat lists are not nesting: 100000 arguments are summed and printed.
  std::wstring flat = L"(+";
  for (std::size_t k = 0; k < kDeep; ++k) flat += L" 1";
  flat += L")";
  EXPECT_EQ(doc.lisp.Evaluate(flat), std::to_wstring(kDeep));
  EXPECT_EQ(doc.lisp.Evaluate(L"'" + flat).size(), flat.size());
  // The namespace survives the errors.
  EXPECT_EQ(doc.lisp.Evaluate(L"(setq x 7) x"), L"7");

  // Random text from the characters that matter to the reader: an answer or an error, always.
  const wchar_t alphabet[] = L"()()'\"\\. ;|ab1e-+\n9";
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 2);
  std::uniform_int_distribution<std::size_t> length(0, 60);
  for (int round = 0; round < 20000; ++round) {
    std::wstring text;
    for (std::size_t n = length(rng); n > 0; --n) text += alphabet[pick(rng)];
    std::wstring echo = doc.lisp.Evaluate(text);
    if (!doc.lisp.LastError().empty()) {
      EXPECT_EQ(echo, L"") << N(text);
    }
  }
}

TEST(LispPrint, PrincPrin1PrintAndTerpriWriteToTheCommandLine) {
  Doc doc;
  EXPECT_EQ(doc.lisp.Evaluate(L"(princ \"a\\nb\")"), L"\"a\\nb\"");
  EXPECT_EQ(doc.output, L"a\nb");
  doc.output.clear();
  doc.lisp.Evaluate(L"(prin1 \"a\\nb\") (print 5) (terpri) (princ '(\"x\" 1.5 y)) (princ)");
  EXPECT_EQ(doc.output, L"\"a\\nb\"\n5 \n(x 1.5 Y)");
  doc.output.clear();
  EXPECT_EQ(doc.lisp.Evaluate(L"(prin1 '(\"x\" (1 . \"y\")))"), L"(\"x\" (1 . \"y\"))");
  EXPECT_EQ(doc.output, L"(\"x\" (1 . \"y\"))");
}

// A system-variable store as the host keeps it.
struct FakeSysvars {
  std::map<std::wstring, int> ints = {{L"LUPREC", 4}, {L"OSMODE", 0}};
  std::wstring clayer = L"0";
  std::vector<short> set_types;

  LispHooks Hooks() {
    LispHooks hooks;
    hooks.getvar = [this](const std::wstring& name, resbuf* value) {
      std::wstring upper;
      for (wchar_t c : name) upper += static_cast<wchar_t>(std::towupper(c));
      if (upper == L"CLAYER") {
        value->restype = RTSTR;
        value->resval.rstring = acutNewString(clayer.c_str());
        return RTNORM;
      }
      if (upper == L"LIMMAX") {
        value->restype = RTPOINT;
        value->resval.rpoint[0] = 12.0;
        value->resval.rpoint[1] = 9.0;
        value->resval.rpoint[2] = 0.0;
        return RTNORM;
      }
      auto it = ints.find(upper);
      if (it == ints.end()) return RTERROR;
      value->restype = RTSHORT;
      value->resval.rint = static_cast<short>(it->second);
      return RTNORM;
    };
    hooks.setvar = [this](const std::wstring& name, const resbuf* value) {
      set_types.push_back(value->restype);
      if (name == L"CLAYER" && value->restype == RTSTR) {
        clayer = value->resval.rstring;
        return RTNORM;
      }
      auto it = ints.find(name);
      if (it == ints.end() || value->restype != RTSHORT) return RTERROR;
      it->second = value->resval.rint;
      return RTNORM;
    };
    return hooks;
  }
};

TEST(LispSysvars, GetvarAndSetvarGoThroughTheHost) {
  FakeSysvars vars;
  Doc doc(vars.Hooks());
  EXPECT_EQ(doc.lisp.Evaluate(L"(getvar \"luprec\")"), L"4");
  EXPECT_EQ(doc.lisp.Evaluate(L"(getvar \"CLAYER\")"), L"\"0\"");
  EXPECT_EQ(doc.lisp.Evaluate(L"(getvar \"LIMMAX\")"), L"(12.0 9.0)");
  EXPECT_EQ(doc.lisp.Evaluate(L"(getvar \"NOSUCHVAR\")"), L"nil");
  EXPECT_EQ(doc.lisp.Evaluate(L"(setvar \"LUPREC\" 2)"), L"2");
  EXPECT_EQ(vars.ints[L"LUPREC"], 2);
  EXPECT_EQ(doc.lisp.Evaluate(L"(setvar \"CLAYER\" \"Walls\") (getvar \"CLAYER\")"), L"\"Walls\"");
  EXPECT_EQ(doc.lisp.Evaluate(L"(setvar \"LUPREC\" \"x\")"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"AutoCAD variable setting rejected: \"LUPREC\" \"x\"");
  EXPECT_EQ(doc.lisp.Evaluate(L"(setvar \"NOPE\" 1)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"AutoCAD variable setting rejected: \"NOPE\" 1");
  EXPECT_EQ(vars.set_types, (std::vector<short>{RTSHORT, RTSTR, RTSTR, RTSHORT}));
  EXPECT_EQ(doc.lisp.Evaluate(L"(getvar 1)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"bad argument type: stringp 1");
  // Without a host behind it nothing is read and every setting is refused.
  Doc bare;
  EXPECT_EQ(bare.lisp.Evaluate(L"(getvar \"LUPREC\")"), L"nil");
  EXPECT_EQ(bare.lisp.Evaluate(L"(setvar \"LUPREC\" 2)"), L"");
}

// What (command ...) handed to the host, one line per value.
std::wstring Describe(const resbuf* rb) {
  static const std::map<int, std::wstring> kMarks = {
      {RTNIL, L"NIL"}, {RTT, L"T"}, {RTLB, L"("}, {RTLE, L")"}, {RTDOTE, L"."}};
  std::wstring out;
  for (; rb != nullptr; rb = rb->rbnext) {
    const int type = rb->restype;
    if (type == RTSTR) {
      out += L"STR:" + std::wstring(rb->resval.rstring);
    } else if (type == RTSHORT) {
      out += L"SHORT:" + std::to_wstring(rb->resval.rint);
    } else if (type == RTLONG) {
      out += L"LONG:" + std::to_wstring(rb->resval.rlong);
    } else if (type == RTREAL) {
      out += L"REAL:" + std::to_wstring(rb->resval.rreal);
    } else if (type == RTPOINT || type == RT3DPOINT) {
      out += type == RTPOINT ? L"POINT:" : L"3DPOINT:";
      for (int k = 0; k < (type == RTPOINT ? 2 : 3); ++k)
        out += std::to_wstring(rb->resval.rpoint[k]) + L",";
    } else {
      auto mark = kMarks.find(type);
      out += mark != kMarks.end() ? mark->second : L"?" + std::to_wstring(type);
    }
    out += L"|";
  }
  return out;
}

TEST(LispCommand, ArgumentsReachTheHostAsResultBuffers) {
  std::vector<std::wstring> calls;
  int answer = RTNORM;
  LispHooks hooks;
  hooks.command = [&](const resbuf* args) {
    calls.push_back(Describe(args));
    return answer;
  };
  Doc doc(std::move(hooks));
  EXPECT_EQ(doc.lisp.Evaluate(L"(command \"_.LINE\" '(0 0) '(1.5 2 3) \"\")"), L"nil");
  EXPECT_EQ(doc.lisp.Evaluate(L"(command \"X\" 5 100000 2.5 nil T) (command)"), L"nil");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0],
            L"STR:_.LINE|POINT:0.000000,0.000000,|3DPOINT:1.500000,2.000000,3.000000,|STR:|");
  EXPECT_EQ(calls[1], L"STR:X|SHORT:5|LONG:100000|REAL:2.500000|NIL|T|");
  EXPECT_EQ(calls[2], L"");
  // Values a command cannot take are refused before the host sees anything.
  EXPECT_EQ(doc.lisp.Evaluate(L"(command \"X\" '(1 2 3 4))"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"bad argument type: (1 2 3 4)");
  EXPECT_EQ(calls.size(), 3u);
  // A cancelled command stops the expression; a failed one answers nil.
  answer = RTCAN;
  EXPECT_EQ(doc.lisp.Evaluate(L"(command \"X\") (setq after 1)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"Function cancelled");
  answer = RTERROR;
  EXPECT_EQ(doc.lisp.Evaluate(L"(command \"X\") after"), L"nil");
}

// ---------------------------------------------------------------------------------------------
// A fake application: functions defined with acedDefun and answered in its invoke message, one
// attached with acedRegFunc. Its state is global because acedRegFunc takes a plain function.

struct FakeApp {
  std::vector<int> invoked;  // codes seen by acedGetFunCode
  std::vector<std::wstring> args_seen;
  LispContext* reenter = nullptr;  // for the function that makes LISP call another
  int code_after_reentry = 0;
};
FakeApp g_app;

int Registered() {
  g_app.invoked.push_back(acedGetFunCode());
  g_app.args_seen.push_back(Describe(acedGetArgs()));
  return acedRetStr(L"registered") == RTNORM ? RTNORM : RTERROR;
}

// The application's answer to the host's "invoke function" message.
int OnInvoke(int /*code sent*/, void* /*application*/) {
  int code = acedGetFunCode();
  g_app.invoked.push_back(code);
  g_app.args_seen.push_back(Describe(acedGetArgs()));
  switch (code) {
    case 0:  // C:init_vanta
      return acedRetVoid();
    case 1: {  // vanta-add: numbers in, their sum out
      std::int64_t total = 0;
      double real_total = 0;
      bool real = false;
      for (const resbuf* rb = acedGetArgs(); rb != nullptr; rb = rb->rbnext) {
        if (rb->restype == RTSHORT) {
          total += rb->resval.rint;
        } else if (rb->restype == RTLONG) {
          total += rb->resval.rlong;
        } else if (rb->restype == RTREAL) {
          real = true;
          real_total += rb->resval.rreal;
        } else {
          acdbFail(L"vanta-add: numbers expected");
          return RTERROR;
        }
      }
      return real ? acedRetReal(real_total + static_cast<double>(total))
                  : acedRetInt(static_cast<int>(total));
    }
    case 2:  // vanta-echo: the arguments as a list
      return acedRetList(acedGetArgs());
    case 3:  // vanta-broken: fails without a message
      return RTERROR;
    case 5:  // vanta-outer: makes LISP call vanta-add while it runs
      g_app.reenter->Evaluate(L"(setq inner (vanta-add 1 2))");
      g_app.code_after_reentry = acedGetFunCode();
      return acedRetT();
    case 6: {  // vanta-point
      ads_point p = {1.0, 2.0, 3.0};
      return acedRetPoint(p);
    }
    default:
      acdbFail(L"unknown function");
      return RTERROR;
  }
}

LispHooks AppHooks() {
  LispHooks hooks;
  hooks.invoke = OnInvoke;
  return hooks;
}

TEST(LispApplication, FunctionsAreCalledWithArgumentsAndResults) {
  g_app = FakeApp{};
  Doc doc(AppHooks());
  {
    CurrentScope current(doc.lisp);
    ASSERT_EQ(acedDefun(L"C:init_vanta", 0), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-add", 1), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-echo", 2), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-broken", 3), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-reg", 4), RTNORM);
    ASSERT_EQ(acedRegFunc(Registered, 4), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-outer", 5), RTNORM);
    ASSERT_EQ(acedDefun(L"vanta-point", 6), RTNORM);
  }
  g_app.reenter = &doc.lisp;

  // Arguments are evaluated and handed over; the result comes back as the function's value.
  EXPECT_EQ(doc.lisp.Evaluate(L"(setq n 4) (VANTA-ADD n 100000 (* 2 3))"), L"100010");
  EXPECT_EQ(g_app.args_seen.back(), L"SHORT:4|LONG:100000|SHORT:6|");
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-add 1 0.5)"), L"1.5");
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-add)"), L"0");
  EXPECT_EQ(g_app.args_seen.back(), L"");

  // A symbol has no result buffer type; every other kind of value survives the trip to the
  // application and back.
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-echo \"s\" '(a-num . 7))"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"bad argument type: A-NUM");
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-echo \"s\" 2.5 nil T '(1 (2 \"x\")) '(1.0 2.0) "
                              L"'(1.0 2.0 3.0) '(\"k\" . 7))"),
            L"(\"s\" 2.5 nil T (1 (2 \"x\")) (1.0 2.0) (1.0 2.0 3.0) (\"k\" . 7))");
  EXPECT_EQ(g_app.args_seen.back(),
            L"STR:s|REAL:2.500000|NIL|T|(|SHORT:1|(|SHORT:2|STR:x|)|)|"
            L"POINT:1.000000,2.000000,|3DPOINT:1.000000,2.000000,3.000000,|(|STR:k|.|SHORT:7|)|");
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-point)"), L"(1.0 2.0 3.0)");

  // A command function returns silently; its code is what acedGetFunCode answered.
  g_app.invoked.clear();
  EXPECT_EQ(doc.lisp.Evaluate(L"(c:Init_Vanta)"), L"");
  EXPECT_TRUE(doc.lisp.LastError().empty());
  EXPECT_EQ(g_app.invoked, std::vector<int>{0});

  // acdbFail's message stops LISP; a failure without one is still reported.
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-add \"x\") (setq after 1)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"vanta-add: numbers expected");
  EXPECT_EQ(doc.lisp.Evaluate(L"after"), L"nil");
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-broken)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"function failed: VANTA-BROKEN");

  // A handler attached with acedRegFunc is called instead of the invoke message, and the host
  // can run it itself.
  g_app.invoked.clear();
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-reg 9)"), L"\"registered\"");
  EXPECT_EQ(g_app.args_seen.back(), L"SHORT:9|");
  EXPECT_EQ(doc.lisp.RunRegistered(4), RTNORM);
  EXPECT_EQ(doc.lisp.RunRegistered(99), RTERROR);
  EXPECT_EQ(g_app.invoked, (std::vector<int>{4, 4}));

  // A function that makes LISP call another keeps its own invocation state afterwards.
  EXPECT_EQ(doc.lisp.Evaluate(L"(vanta-outer) inner"), L"3");
  EXPECT_EQ(g_app.code_after_reentry, 5);

  // Outside an invocation the application's calls fail.
  EXPECT_EQ(acedGetFunCode(), RTERROR);
  EXPECT_EQ(acedGetArgs(), nullptr);
  EXPECT_EQ(acedRetInt(1), RTERROR);
  EXPECT_EQ(acedRetStr(L"x"), RTERROR);
  EXPECT_EQ(acdbFail(L"x"), RTERROR);
}

TEST(LispApplication, CommandFunctionsAndDefinitions) {
  g_app = FakeApp{};
  Doc doc(AppHooks());
  CurrentScope current(doc.lisp);
  ASSERT_EQ(acedDefun(L"C:init_vanta", 0), RTNORM);
  ASSERT_EQ(acedDefun(L"vanta-add", 1), RTNORM);

  EXPECT_EQ(doc.lisp.CommandFunction(L"INIT_VANTA"), 0);
  EXPECT_EQ(doc.lisp.CommandFunction(L"vanta-add"), std::nullopt);  // not a C: function
  EXPECT_EQ(doc.lisp.CommandFunction(L""), std::nullopt);
  EXPECT_TRUE(doc.lisp.RunCommand(L"Init_Vanta"));
  EXPECT_EQ(g_app.invoked, std::vector<int>{0});
  EXPECT_FALSE(doc.lisp.RunCommand(L"nosuch"));

  // Redefinition replaces the code; removal needs the code it was defined with.
  EXPECT_EQ(acedDefun(L"C:INIT_VANTA", 7), RTNORM);
  EXPECT_EQ(doc.lisp.CommandFunction(L"init_vanta"), 7);
  EXPECT_FALSE(doc.lisp.RunCommand(L"init_vanta"));  // the application knows no code 7
  EXPECT_EQ(doc.lisp.LastError(), L"unknown function");
  EXPECT_EQ(acedUndef(L"c:init_vanta", 0), RTERROR);
  EXPECT_EQ(acedUndef(L"c:init_vanta", 7), RTNORM);
  EXPECT_EQ(doc.lisp.CommandFunction(L"init_vanta"), std::nullopt);
  EXPECT_EQ(acedUndef(L"c:init_vanta", 7), RTERROR);
  EXPECT_EQ(doc.lisp.Evaluate(L"(c:init_vanta)"), L"");
  EXPECT_EQ(doc.lisp.LastError(), L"no function definition: C:INIT_VANTA");

  // Names that LISP could not read back, and negative codes, are refused.
  const wchar_t* bad_names[] = {L"", L"a b", L"x)", L"12", L".5", L"nil", L"a\"b", L"tab\tname"};
  for (const wchar_t* name : bad_names) {
    EXPECT_EQ(acedDefun(name, 3), RTERROR) << N(name);
  }
  EXPECT_EQ(acedDefun(nullptr, 3), RTERROR);
  EXPECT_EQ(acedDefun(L"ok-name", -1), RTERROR);
  EXPECT_EQ(acedDefun(L"c:Ünïcode", 3), RTNORM);
  EXPECT_EQ(doc.lisp.FunctionCode(L"C:üNÏCODE"), 3);

  // A function defined under a built-in's name replaces it, as the host allows.
  ASSERT_EQ(acedDefun(L"STRCAT", 1), RTNORM);
  EXPECT_EQ(doc.lisp.Evaluate(L"(strcat 1 2)"), L"3");

  // Without a current document the application's calls fail.
  LispContext::SetCurrent(nullptr);
  EXPECT_EQ(acedDefun(L"x", 1), RTERROR);
  EXPECT_EQ(acedUndef(L"vanta-add", 1), RTERROR);
  EXPECT_EQ(acedRegFunc(Registered, 1), RTERROR);
  EXPECT_EQ(ads_queueexpr(L"(x)"), RTERROR);
}

TEST(LispDocuments, NamespacesAndQueuesArePerDocument) {
  g_app = FakeApp{};
  Doc a(AppHooks());
  Doc b(AppHooks());
  {
    CurrentScope current(a.lisp);
    ASSERT_EQ(acedDefun(L"C:init_vanta", 0), RTNORM);
    ASSERT_EQ(ads_queueexpr(L"(setq where \"A\") (C:init_vanta)"), RTNORM);
    ASSERT_EQ(ads_queueexpr(L"(setq count 1)"), RTNORM);
    EXPECT_EQ(ads_queueexpr(nullptr), RTERROR);
  }
  // Queued expressions wait until the host takes them, in the order queued.
  EXPECT_TRUE(g_app.invoked.empty());
  EXPECT_TRUE(a.lisp.HasQueued());
  EXPECT_FALSE(b.lisp.HasQueued());
  EXPECT_EQ(b.lisp.CommandFunction(L"init_vanta"), std::nullopt);

  // Another document is current by the time the host gets to them: they still run in theirs.
  LispContext::SetCurrent(&b.lisp);
  std::vector<std::wstring> queued = a.lisp.TakeQueued();
  ASSERT_EQ(queued.size(), 2u);
  EXPECT_FALSE(a.lisp.HasQueued());
  for (const std::wstring& expr : queued) a.lisp.Evaluate(expr);
  EXPECT_EQ(g_app.invoked, std::vector<int>{0});
  EXPECT_EQ(a.lisp.Evaluate(L"where"), L"\"A\"");
  EXPECT_EQ(b.lisp.Evaluate(L"where"), L"nil");
  EXPECT_EQ(b.lisp.Evaluate(L"(C:init_vanta)"), L"");
  EXPECT_EQ(b.lisp.LastError(), L"no function definition: C:INIT_VANTA");
  EXPECT_TRUE(a.lisp.TakeQueued().empty());

  // The same name means different things in each document.
  ASSERT_EQ(acedDefun(L"vanta-add", 1), RTNORM);  // b is current
  EXPECT_EQ(b.lisp.Evaluate(L"(vanta-add 2 3)"), L"5");
  EXPECT_EQ(a.lisp.Evaluate(L"(vanta-add 2 3)"), L"");
  EXPECT_EQ(a.lisp.LastError(), L"no function definition: VANTA-ADD");

  // A document that goes away while current leaves no current document behind.
  {
    LispContext closing;
    LispContext::SetCurrent(&closing);
  }
  EXPECT_EQ(LispContext::Current(), nullptr);
  EXPECT_EQ(acedDefun(L"x", 1), RTERROR);
}

TEST(LispApplication, MalformedResultsFromTheApplicationAreRefused) {
  // Results that are not a well-formed list never reach LISP; the last good one stands.
  static int outcome[4];
  LispHooks hooks;
  hooks.invoke = [](int, void*) {
    resbuf items[3] = {};
    items[0].restype = RTLB;
    items[0].rbnext = &items[1];
    items[1].restype = RTSHORT;
    items[1].resval.rint = 1;
    outcome[0] = acedRetList(items);  // RTLB without RTLE
    items[1].rbnext = &items[2];
    items[2].restype = RTLE;
    outcome[1] = acedRetList(items);  // ((1))
    items[0].restype = RTDOTE;
    outcome[2] = acedRetList(items);  // a dot with nothing before it
    outcome[3] = acedRetVal(nullptr);
    return RTNORM;
  };
  Doc doc(std::move(hooks));
  CurrentScope current(doc.lisp);
  ASSERT_EQ(acedDefun(L"f", 1), RTNORM);
  EXPECT_EQ(doc.lisp.Evaluate(L"(f)"), L"((1))");
  EXPECT_EQ(outcome[0], RTERROR);
  EXPECT_EQ(outcome[1], RTNORM);
  EXPECT_EQ(outcome[2], RTERROR);
  EXPECT_EQ(outcome[3], RTERROR);
}

}  // namespace
