// The host's editor: printing to the command line, prompts for keywords and strings, and
// system variables.
//
// Stands in for ObjectARX's acedads.h prompt functions (acedInitGet, acedGetKword,
// acedGetString), acutPrintf and acedGetVar/acedSetVar. The host's core plugs in where lines come
// from (the terminal or a script) and where printed text goes; everything here is line-based, as
// a script answers prompts. Left out: point, distance, angle, integer and real prompts, LISP
// expressions typed at a prompt, transparent commands, dynamic input, the keyword menu
// (RSG_NOPMENU), and every system variable not listed at acedGetVar.
//
// Threads: the host's main thread only (the state here is the editor's, as in the host).
//
//   acedInitGet(RSG_NONULL, L"Export Import _Export Import");
//   ACHAR kw[32];
//   if (acedGetKword(L"\nChoose [Export/Import]: ", kw, 32) == RTNORM) ...   // kw: L"Export"
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host/adscodes.h"

namespace sheetwise::host {

/// Where the editor reads what the user types.
class InputSource {
 public:
  virtual ~InputSource();
  /// The next line the user types in answer to `prompt` (already printed through the output),
  /// without its newline; nullopt at end of input. A line holding only ESC (\x1b) or Ctrl-C
  /// (\x03) is a cancel.
  virtual std::optional<std::wstring> ReadLine(const std::wstring& prompt) = 0;
};

/// Sets where prompts read their lines (not owned; null: every prompt meets end of input and
/// answers RTCAN).
void SetInput(InputSource* source);
/// Sets where acutPrintf and the prompts' texts go; an empty function restores the default,
/// stdout in UTF-8.
void SetOutput(std::function<void(std::wstring_view)> output);
/// Whether prompts and the answers the host supplies itself (a command's queued arguments) are
/// shown. The host turns it off while a command runs from inside another with CMDECHO 0, as the
/// CAD host hides such commands; messages still show.
void SetPromptEcho(bool on);
bool PromptEcho();

}  // namespace sheetwise::host

/// Prints through the editor's output. printf-style as ObjectARX's: %s and %ls take wide
/// strings (ACHAR*), %hs a narrow UTF-8 one, %c a wide character; %d %i %u %x %X %o with h, l,
/// ll, z, j modifiers; %f %e %g %a with the decimal point whatever the locale; %p; %%.
/// Width, precision, flags and `*` as printf. Returns the number of characters printed; -1 for
/// a null format or an unknown conversion (then nothing is printed).
int acutPrintf(const ACHAR* format, ...);

/// Sets the conditions and the keyword list of the next prompt only (acedGetKword,
/// acedGetString; any prompt consumes them). `flags`: RSG_* (adscodes.h); of those only
/// RSG_NONULL changes what the prompts here accept. `keywords`: local names separated by
/// blanks, optionally followed by "_" and the global names in the same order
/// ("Export Import _Export Import"); a capital run in a name marks its shortest abbreviation
/// ("LType": "LT", "LTY" ... "LTYPE"; "eXit": "X" or "EX" ... "EXIT"); a name without capitals
/// must be typed in full; "Name,AB" gives the abbreviation explicitly. Null or empty: no
/// keywords. RTERROR (and nothing set) when the global list has another number of names than the
/// local one.
int acedInitGet(int flags, const ACHAR* keywords);

/// Prints `prompt` and reads a keyword of the list acedInitGet set. The user types a name in full
/// or abbreviated, in any case; "_Name" chooses by global name. `result` receives the GLOBAL
/// name as written in the list (the local one where the list has no global names). Enter gives
/// RTNONE (with RSG_NONULL the prompt repeats); an answer that is no keyword prints "Invalid
/// option keyword." and the prompt repeats; cancel or end of input RTCAN; RTERROR when no
/// keyword list was set, `result` is null or the name does not fit `bufsize` (with its
/// terminator).
int acedGetKword(const ACHAR* prompt, ACHAR* result, std::size_t bufsize);

/// Prints `prompt` and reads a string. `cronly` 0: a blank ends the input as in the host, so the
/// text up to the first blank is taken (leading blanks: the empty string); otherwise the whole
/// line. Enter gives RTNORM and the empty string (RSG_NONULL from acedInitGet: the prompt
/// repeats). RTCAN for cancel or end of input; RTERROR for a null `result` or a text that does
/// not fit `bufsize` with its terminator.
int acedGetString(int cronly, const ACHAR* prompt, ACHAR* result, std::size_t bufsize);

/// The value of a system variable (name in any case) in `result` (its rbnext is set to null):
///   CMDECHO, CMDDIA, FILEDIA     RTSHORT 0/1, the host's own (per process), default 1
///   LUNITS LUPREC AUNITS AUPREC DIMZIN UNITMODE ANGDIR   RTSHORT, the working drawing's
///   ANGBASE                      RTREAL, radians, the working drawing's
///   DWGNAME, DWGPREFIX           RTSTR, the working drawing's file name and its folder (ending
///                                in the separator); a new drawing is "Drawing1.dxf" in the
///                                current folder
/// An RTSTR value is allocated for the caller, who frees it with acutDelBuffer (not free()).
/// RTERROR for an unknown name, a null argument, or a drawing variable without a working
/// drawing.
int acedGetVar(const ACHAR* name, resbuf* result);

/// Sets a system variable: the host's 0/1 variables, LUNITS (1-5), LUPREC (0-8), AUNITS (0-4),
/// AUPREC (0-8), DIMZIN (0-15), UNITMODE (0-1), from RTSHORT (or RTLONG) values. The working
/// drawing's variables change in its HEADER, saved with it. RTERROR for an unknown name, a
/// wrong type, a value out of range, a read-only variable (ANGBASE, ANGDIR: the database has no
/// setters; DWGNAME, DWGPREFIX), or no working drawing; nothing changes then.
int acedSetVar(const ACHAR* name, const resbuf* value);
