// The host's LISP: each document's namespace of functions that the application defines
// (acedDefun), a small evaluator for the expressions users type and applications queue
// (ads_queueexpr), and the "function being invoked" state that the application reads and
// answers through acedGetFunCode, acedGetArgs and acedRet*.
//
// Stands in for the CAD host's AutoLISP interpreter and for acedDefun, acedUndef, acedRegFunc,
// acedGetFunCode, acedGetArgs, acedRet*, acdbFail and ads_queueexpr of its acedads.h.
// Deliberately left out: defun, lambda and user-defined functions, list functions (car, cdr,
// list ...), selection sets, entity names, files, Visual LISP's vl-/vla- functions and the
// *error* handler. The evaluator knows quote, setq, if, progn, not, + - * /, =, strcat, itoa,
// atoi, atof, rtos, getvar, setvar, command, princ, prin1, print, terpri, and calls the
// application's functions. Nesting deeper than kMaxLispNesting levels is refused with the
// host's stack-limit error instead of exhausting the program's stack.
//
// Everything here belongs to the host's main thread.
//
// The host's core, per document:
//   LispHooks hooks;
//   hooks.invoke = [&](int code) { return app.SendInvokeMessage(code); };
//   hooks.print = [&](const std::wstring& text) { terminal.Write(text); };
//   LispContext lisp(std::move(hooks));
//   LispContext::SetCurrent(&lisp);              // when the document becomes current
//   std::wstring echo = lisp.Evaluate(L"(+ 1 2)");   // L"3"
//   if (lisp.CommandFunction(L"INIT_VANTA")) lisp.RunCommand(L"INIT_VANTA");
//   for (const std::wstring& e : lisp.TakeQueued()) lisp.Evaluate(e);   // between commands
//
// The application, inside its "invoke function" message:
//   switch (acedGetFunCode()) {
//     case 0: acedRetStr(L"done"); return RTNORM;
//   }
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/adscodes.h"

namespace sheetwise::host {

/// How deep expressions (lists and quotes) and evaluations may nest.
inline constexpr int kMaxLispNesting = 500;

/// What LISP asks of the rest of the host. Any hook may be empty: an empty `invoke` makes
/// calls of application functions fail with "ADS request error", empty `getvar` answers nil,
/// an empty `setvar` rejects every setting, an empty `command` ignores commands and an empty
/// `print` discards output.
struct LispHooks {
  /// Sends the application its "invoke function" message for the function `code`; returns the
  /// application's status: RTNORM, or RTERROR (after acdbFail) when the function failed.
  /// `application` is what `application` below answered when the function was defined (the
  /// host's packet of the application that defined it), so that the message goes to it.
  std::function<int(int code, void* application)> invoke;
  /// The application running now (the host: the one whose entry point is being called), or
  /// null; recorded with each acedDefun.
  std::function<void*()> application;
  /// Reads the system variable `name` into `*value`, as acedGetVar does: RTNORM, or an error
  /// status when there is no such variable. A string value is allocated with acutNewString and
  /// freed by the caller with acutDelBuffer.
  std::function<int(const std::wstring& name, resbuf* value)> getvar;
  /// Sets the system variable `name` to `*value`, as acedSetVar does: RTNORM, or an error status
  /// when the variable does not exist, is read-only or refuses the value.
  std::function<int(const std::wstring& name, const resbuf* value)> setvar;
  /// Runs the arguments of (command ...) as acedCmd does: a list of RTSTR, RTSHORT, RTLONG,
  /// RTREAL, RTPOINT, RT3DPOINT, RTNIL and RTT values, "" standing for Enter; null for (command)
  /// without arguments (a cancel). Returns RTNORM, RTCAN when the user cancelled (the expression
  /// then stops with "Function cancelled"), or another error status (the command reported it;
  /// (command) answers nil).
  std::function<int(const resbuf* args)> command;
  /// Writes text to the command line (princ output and error messages, each message on its own
  /// line starting with "; error: ").
  std::function<void(const std::wstring& text)> print;
};

/// One document's LISP namespace: its variables, the application's functions, the handlers
/// registered with acedRegFunc, and the expressions queued with ads_queueexpr.
class LispContext {
 public:
  explicit LispContext(LispHooks hooks = {});
  ~LispContext();
  LispContext(const LispContext&) = delete;
  LispContext& operator=(const LispContext&) = delete;

  /// The document whose namespace the acedDefun, acedUndef, acedRegFunc and ads_queueexpr calls
  /// use; null (the start-up state) makes them fail with RTERROR. A context that is destroyed
  /// while current is no longer current.
  static void SetCurrent(LispContext* context);
  static LispContext* Current();

  /// Reads and evaluates every top-level expression of `text` in turn and returns the printed
  /// form of the last value as the command line echoes it (strings quoted and escaped, nil, T,
  /// integers, reals with six significant digits such as 2.5 or 1.0e+020, lists); "" when the
  /// text holds no expression or the last value is the silent one of (princ).
  /// An error (unknown function, bad argument, malformed input, nesting too deep ...) prints
  /// "; error: ..." through hooks.print and stops: the rest of the text is not evaluated (as
  /// when a file is loaded) and "" is returned; LastError() then holds the message. Expressions
  /// before the error keep their effects.
  std::wstring Evaluate(std::wstring_view text);

  /// The message of the error that stopped the last Evaluate or RunCommand, without the
  /// "; error: " prefix; empty when it succeeded.
  const std::wstring& LastError() const { return last_error_; }

  /// The code that acedDefun gave the function "C:" + `command_name` (case ignored), when the
  /// application defined it: the host's command dispatcher runs such functions as commands.
  std::optional<int> CommandFunction(std::wstring_view command_name) const;

  /// Calls the function "C:" + `command_name` without arguments, as the command line does when
  /// the user types the command; errors are printed as Evaluate prints them. Returns false when
  /// the function is not defined or failed.
  bool RunCommand(std::wstring_view command_name);

  /// The code of the application function `name` (case ignored), when it is defined.
  std::optional<int> FunctionCode(std::wstring_view name) const;

  /// Runs the handler that acedRegFunc attached to `code`, with the invocation state set (no
  /// arguments) while it runs. Returns its status; RTERROR when no handler is attached.
  int RunRegistered(int code);

  /// Keeps `expression` for evaluation when the host is ready (ads_queueexpr).
  void Queue(std::wstring expression);
  /// The queued expressions, oldest first; the queue is empty afterwards.
  std::vector<std::wstring> TakeQueued();
  bool HasQueued() const { return !queue_.empty(); }

  // The ObjectARX entry points below reach these through Current().
  int Define(std::wstring_view name, int code);
  int Undefine(std::wstring_view name, int code);
  int Register(int (*handler)(), int code);

 private:
  class Evaluator;
  struct Function {
    std::wstring name;  // as the application spelled it
    int code = 0;
    void* application = nullptr;  // who defined it
  };

  LispHooks hooks_;
  std::map<std::wstring, Function> functions_;  // keyed by FoldCase(name)
  std::map<int, int (*)()> handlers_;           // acedRegFunc, by code
  std::unique_ptr<Evaluator> evaluator_;        // variables and nesting state
  std::vector<std::wstring> queue_;
  std::wstring last_error_;
};

}  // namespace sheetwise::host

/// Defines the LISP function `name` (e.g. "C:INIT_VANTA", a command as well) with `code` in the
/// current document's namespace; a second definition of the name replaces the first. Returns
/// RTNORM; RTERROR for a null, empty or unreadable name (white space, parentheses, quotes,
/// semicolons, a number, nil or T), a negative code, or no current document.
int acedDefun(const ACHAR* name, int code);
/// Removes the function `name` defined with `code`. RTERROR when it is not defined with that
/// code or there is no current document.
int acedUndef(const ACHAR* name, int code);
/// Attaches `handler` to the function `code` in the current document: LISP then calls the
/// handler directly instead of sending the invoke message. A null handler detaches. RTERROR for
/// a negative code or no current document.
int acedRegFunc(int (*handler)(), int code);
/// The code of the function being invoked; RTERROR outside an invocation.
int acedGetFunCode();
/// The evaluated arguments of the function being invoked (lists as RTLB ... RTLE, lists of two or
/// three reals as RTPOINT / RT3DPOINT), owned by the host until the function returns; null when
/// there are none or outside an invocation.
resbuf* acedGetArgs();
/// The result of the function being invoked: RTNORM, or RTERROR outside an invocation (or for a
/// null string or point, or a malformed list). The last call wins; no call means nil.
int acedRetVoid();
int acedRetNil();
int acedRetT();
int acedRetStr(const ACHAR* text);
int acedRetInt(int value);
int acedRetReal(ads_real value);
int acedRetPoint(const ads_point point);
int acedRetVal(const resbuf* value);
int acedRetList(const resbuf* list);
/// Reports that the function being invoked failed: LISP stops with "; error: " + `message`.
/// RTNORM; RTERROR outside an invocation.
int acdbFail(const ACHAR* message);
/// Queues `expression` for evaluation in the current document when the host is ready (between
/// commands). RTNORM; RTERROR for a null expression or no current document.
int ads_queueexpr(const ACHAR* expression);
