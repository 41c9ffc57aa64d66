// Where the host's prompts read from (the prompt itself is printed by whoever asks): the terminal
// (one line per answer, with the host's messages and timers served while it waits), a script (each
// line answers the next prompt, as a CAD user's script does), and the lines sent to a document
// (sendStringToExecute), which go first. Left out: line editing and history (the terminal's own
// line discipline serves), the function keys of the host's command line.
//
// Threads: the host's main thread.
#pragma once

#include <atomic>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/editor.h"
#include "platform/win/message.h"

namespace sheetwise::host {

/// Lines typed at the terminal. While it waits, the thread's messages (timers, calls from other
/// apartments) are dispatched and `idle` runs (the host checks sent input and changed files
/// there); `idle` returning a line answers the prompt with it. Ctrl-C (SIGINT) at a prompt
/// cancels it; end of input ends the session.
class TerminalInput : public InputSource {
 public:
  /// `keep_interrupts`: a Ctrl-C that came while no prompt waited answers the next prompt, as
  /// serving until interrupted needs (it must end whenever the Ctrl-C comes); otherwise such a
  /// Ctrl-C is dropped there, as it belonged to what ran before.
  TerminalInput(int fd, std::function<std::optional<std::wstring>()> idle,
                bool keep_interrupts = false);
  ~TerminalInput() override;
  std::optional<std::wstring> ReadLine(const std::wstring& prompt) override;

 private:
  int fd_;
  std::function<std::optional<std::wstring>()> idle_;
  std::string pending_;  // bytes read past the last line
  bool eof_ = false;
  bool keep_interrupts_;
};

/// The lines of a script file. Each line read is echoed after its prompt, as the host shows a
/// script's input. Blank lines are Enter. End of the script is end of input.
class ScriptInput : public InputSource {
 public:
  /// Reads the whole file; false (with `error`) when it cannot be read.
  bool Open(const std::filesystem::path& path, std::string* error);
  std::optional<std::wstring> ReadLine(const std::wstring& prompt) override;
  /// Between commands: the host serves messages before the next line is read.
  void SetBetweenLines(std::function<void()> fn) { between_ = std::move(fn); }

 private:
  std::deque<std::wstring> lines_;
  std::function<void()> between_;
};

/// The host's input: lines queued by the host (sent strings, macros) first, then the
/// underlying source.
class HostInput : public InputSource {
 public:
  explicit HostInput(InputSource* source) : source_(source) {}
  /// Queues text: each "\n" ends a line; a last line without "\n" is queued as it stands.
  void Queue(std::wstring_view text);
  /// Puts lines before everything queued (the rest of a typed line, a command's arguments).
  void QueueFront(const std::vector<std::wstring>& lines);
  /// Drops what is queued (a cancel ends a macro or sent string).
  void Clear() { queued_.clear(); }
  bool HasQueued() const { return !queued_.empty(); }
  /// The first queued line, taken without a prompt; nullopt when none.
  std::optional<std::wstring> PopQueued();
  std::optional<std::wstring> ReadLine(const std::wstring& prompt) override;
  /// The line the next ReadLine returns, read ahead without consuming it (a message box looks
  /// whether a script's next line names one of its buttons); nullopt at end of input.
  std::optional<std::wstring> PeekLine();

 private:
  InputSource* source_;
  std::deque<std::wstring> queued_;
  // A line read ahead from the source by PeekLine; `peeked_end_` when that read met the end.
  std::optional<std::wstring> peeked_;
  bool peeked_end_ = false;
};

/// The host's input as the line source of message boxes and dialogs, so that they read the
/// same lines as the prompts: a script's next line, the terminal, or sent strings.
class HostLineSource : public LineSource {
 public:
  HostLineSource(HostInput* input, bool interactive) : input_(input), interactive_(interactive) {}
  std::optional<std::string> Peek() override;
  std::optional<std::string> Take() override;
  bool Interactive() const override { return interactive_; }

 private:
  HostInput* input_;
  bool interactive_;
};

/// What runs a host command given as words (the command, then the answers to its prompts):
/// acedCommand and LISP's (command ...) use it. Returns RTNORM, RTCAN or RTERROR.
using CommandRunner = std::function<int(std::vector<std::wstring> words)>;
void SetCommandRunner(CommandRunner runner);
int RunCommandWords(std::vector<std::wstring> words);

/// Installs the host's SIGINT handler (Ctrl-C cancels the prompt instead of ending the
/// program) and answers whether one came since the last call.
void InstallInterruptHandler();
bool TakeInterrupt();

}  // namespace sheetwise::host

/// Runs a host command from inside a command: (RTSTR, const ACHAR*), (RTSHORT, int),
/// (RTLONG, long), (RTREAL, double) pairs ended by 0 (RTNONE); "" stands for Enter. RTNORM,
/// RTCAN, or RTERROR (no runner, a bad type, an unknown command).
int acedCommand(int rtype, ...);
