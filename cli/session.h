// The host session behind `sheetwise [DRAWING] [-w BOOK.xlsx] [-s SCRIPT]`: opens the drawing
// (a new one without), starts the spreadsheet application with BOOK when asked, loads the
// application libraries, and runs the command line: typed at the terminal or read from a script,
// with LISP expressions, the commands applications registered, "C:" LISP functions and the
// host's own commands (NEW, OPEN, QSAVE, SAVEAS, CLOSE, QUIT, SELECT, LIST, SETVAR, GETVAR, ARX).
// Sent strings and queued LISP run when the prompt is idle, never inside a command. After every
// command each changed workbook is saved: to its file, or a new one beside the drawing as
// DRAWING-BookN.xlsx.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sheetwise::cli {

struct SessionOptions {
  std::filesystem::path drawing;            ///< empty: a new drawing
  std::filesystem::path workbook;           ///< -w: opened in the spreadsheet first
  std::filesystem::path script;             ///< -s: lines instead of the terminal
  std::vector<std::filesystem::path> apps;  ///< application libraries to load at start
  /// --no-spreadsheet: the spreadsheet application is not installed (it cannot be started).
  bool no_spreadsheet = false;
  /// A shortcut's work: run once as a command when the drawing is open and the applications
  /// are loaded, instead of reading commands; its result is the session's exit status. Prompts
  /// inside it meet the end of input.
  std::function<int()> shortcut;
  /// Where a new workbook that changed is saved (a second one gets "-2" before the extension),
  /// instead of beside the drawing as DRAWING-BookN.xlsx.
  std::filesystem::path new_workbook;
  /// Filled with the workbook files saved during the session.
  std::vector<std::filesystem::path>* saved_workbooks = nullptr;
  /// No prompts and no echoed input: only what commands print.
  bool quiet = false;
  /// After the shortcut, keep serving: no input is read, but timers, sent strings and changed
  /// workbook files are, until Ctrl-C (the live link's shortcut).
  bool serve_until_interrupted = false;
  /// Called after every host command (with the session's current drawing open).
  std::function<void()> after_command;
};

/// Runs a session to its end (QUIT, end of the script or of input). Returns the exit status:
/// 0, or 1 when the drawing, workbook, script or an application could not be opened (the
/// message on stderr). Main thread; one session per process at a time.
int RunSession(const SessionOptions& options);

}  // namespace sheetwise::cli
