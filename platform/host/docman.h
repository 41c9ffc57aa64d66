// The host's documents as an application sees them (acdocman.h): open drawings with one current,
// the resource-module stack that dialogs and strings are loaded from, strings sent to a
// document's command line, and whether a document is between commands. The host's own side (open,
// close, make current, take the sent input, mark a command running) is here too, for the host's
// command loop. Left out: document reactors, locking modes (an application's lock always
// succeeds: one thread works on drawings), the execution context switches of the real host.
//
//   AcApDocManager* docs = acDocManagerPtr();
//   docs->pushResourceHandle(resources);  ... LoadStringW(...) ...  docs->popResourceHandle();
//   docs->sendStringToExecute(docs->curDocument(), L"vanta\n_import2\n");
//
// Threads: the resource stack is per thread (the live link's thread keeps its own); everything
// else belongs to the host's main thread, except sendStringToExecute, which any thread may call.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/acdbcore.h"
#include "platform/host/adscodes.h"
#include "platform/host/dbmain.h"
#include "platform/win/wintypes.h"

/// One open drawing.
class AcApDocument {
 public:
  AcDbDatabase* database() const { return db_.get(); }
  /// The drawing's file, empty for a new drawing never saved.
  const ACHAR* fileName() const { return file_.c_str(); }
  /// True while no command runs in the document and no input waits to run (the host's prompt
  /// is idle).
  bool isQuiescent() const;

  // ---- The host's side.
  AcApDocument(std::unique_ptr<AcDbDatabase> db, std::wstring file);
  void SetFileName(std::wstring file) { file_ = std::move(file); }
  /// Marks a command as running (commands nest: acedCommand inside a command).
  void BeginCommand() { ++commands_; }
  void EndCommand() {
    if (commands_ > 0) --commands_;
  }
  int ActiveCommands() const { return commands_; }
  /// The strings sent with sendStringToExecute, oldest first; taking them empties the queue.
  std::wstring TakeSentInput();
  bool HasSentInput() const;

 private:
  friend class AcApDocManager;
  std::unique_ptr<AcDbDatabase> db_;
  std::wstring file_;
  int commands_ = 0;
  mutable std::mutex sent_mutex_;
  std::wstring sent_;
};

class AcApDocManager {
 public:
  AcApDocument* curDocument() const { return current_; }
  AcApDocument* mdiActiveDocument() const { return current_; }
  int documentCount() const { return static_cast<int>(docs_.size()); }
  /// Queues `text` as typed input of `doc` (each "\n" ends a line); it runs when the host waits
  /// at that document's prompt. eInvalidInput for a null or closed document or a null text.
  Acad::ErrorStatus sendStringToExecute(AcApDocument* doc, const ACHAR* text, bool activate = true,
                                        bool wrap_up_inactive = false, bool echo = true);
  /// Makes `module` the calling thread's current resource module until the matching pop.
  void pushResourceHandle(HINSTANCE module);
  /// Returns to the module before the last push; a pop without a push does nothing.
  void popResourceHandle();

  // ---- The host's side.
  /// Adds an open drawing and makes it current (and the working database).
  AcApDocument* Add(std::unique_ptr<AcDbDatabase> db, std::wstring file);
  /// Closes a drawing; another becomes current (the last opened), or none.
  void Close(AcApDocument* doc);
  void SetCurrent(AcApDocument* doc);
  std::vector<AcApDocument*> Documents() const;
  /// The calling thread's current resource module (null: the host's own) and stack depth.
  HINSTANCE CurrentResourceHandle() const;
  std::size_t ResourceDepth() const;
  /// Called (from any thread) after a string was sent, to wake the host's wait.
  void SetWakeUp(std::function<void()> wake_up) { wake_up_ = std::move(wake_up); }

 private:
  std::vector<std::unique_ptr<AcApDocument>> docs_;
  AcApDocument* current_ = nullptr;
  std::function<void()> wake_up_;
};

/// The host's document manager.
AcApDocManager* acDocManagerPtr();
