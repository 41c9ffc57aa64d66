#include "cli/session.h"

#include <unistd.h>

#include <map>
#include <memory>
#include <optional>

#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/dxf/document.h"
#include "platform/host/arxapp.h"
#include "platform/host/console.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/docman.h"
#include "platform/host/editor.h"
#include "platform/host/lisp.h"
#include "platform/host/menus.h"
#include "platform/host/selection.h"
#include "platform/host/units.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"
#include "platform/win/msgqueue.h"

namespace sheetwise::cli {
namespace {

using namespace sheetwise::host;
namespace fs = std::filesystem;

void Print(const std::wstring& text) {
  acutPrintf(L"%ls", text.c_str());
}

std::wstring Upper(std::wstring s) {
  return FoldCase(s) == s ? std::wstring(s) : s;
}

bool Is(const std::wstring& word, const wchar_t* name) {
  std::wstring w = word;
  while (!w.empty() && (w[0] == L'_' || w[0] == L'.')) w.erase(0, 1);
  return EqualsNoCase(w, name);
}

std::vector<std::wstring> Words(const std::wstring& line) {
  std::vector<std::wstring> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == L' ') ++i;
    if (i >= line.size()) break;
    std::size_t j = line.find(L' ', i);
    if (j == std::wstring::npos) j = line.size();
    out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

class Session {
 public:
  explicit Session(SessionOptions options) : options_(std::move(options)) {}
  int Run();

 private:
  LispContext* Lisp(AcApDocument* doc);
  AcApDocument* OpenDrawing(const fs::path& path);
  void CloseDrawing(AcApDocument* doc);
  void Idle();
  void ServeMessages();
  void RunLine(const std::wstring& line);
  int RunCommand(const std::wstring& word);
  bool HostCommand(const std::wstring& word, int* status);
  void AfterCommand();
  // `from_code`: run by acedCommand or LISP rather than typed.
  int RunWords(std::vector<std::wstring> words, bool from_code = false);
  void List();
  void SaveAs(bool quick);

  SessionOptions options_;
  AppLoader apps_;
  std::unique_ptr<InputSource> source_;
  std::unique_ptr<HostInput> input_;
  std::shared_ptr<LineSource> previous_lines_;
  std::map<AcApDocument*, std::unique_ptr<LispContext>> lisp_;
  bool quit_ = false;
  int depth_ = 0;
  int new_books_ = 0;            // new workbooks saved to options_.new_workbook
  bool save_failed_ = false;     // a workbook could not be saved
  int idle_pipe_[2] = {-1, -1};  // never written: what the serving waits on
};

LispContext* Session::Lisp(AcApDocument* doc) {
  if (doc == nullptr) return nullptr;
  auto it = lisp_.find(doc);
  if (it != lisp_.end()) return it->second.get();
  LispHooks hooks;
  // A LISP function's call goes to the application that defined it.
  hooks.application = [this] { return apps_.CurrentPacket(); };
  hooks.invoke = [this](int, void* application) {
    if (application == nullptr) return RTERROR;
    return apps_.Send(application, AcRx::kInvkSubrMsg) == AcRx::kRetOK ? RTNORM : RTERROR;
  };
  hooks.getvar = [](const std::wstring& name, resbuf* value) {
    return acedGetVar(name.c_str(), value);
  };
  hooks.setvar = [](const std::wstring& name, const resbuf* value) {
    return acedSetVar(name.c_str(), value);
  };
  hooks.command = [this](const resbuf* args) {
    std::vector<std::wstring> words;
    for (const resbuf* rb = args; rb != nullptr; rb = rb->rbnext) {
      switch (rb->restype) {
        case RTSTR:
          words.emplace_back(rb->resval.rstring ? rb->resval.rstring : L"");
          break;
        case RTSHORT:
          words.push_back(std::to_wstring(rb->resval.rint));
          break;
        case RTLONG:
          words.push_back(std::to_wstring(rb->resval.rlong));
          break;
        case RTREAL:
          words.push_back(std::to_wstring(rb->resval.rreal));
          break;
        default:
          break;
      }
    }
    if (words.empty()) return RTCAN;
    return RunWords(std::move(words));
  };
  hooks.print = [](const std::wstring& text) { Print(text); };
  auto made = std::make_unique<LispContext>(std::move(hooks));
  LispContext* ctx = made.get();
  lisp_[doc] = std::move(made);
  return ctx;
}

AcApDocument* Session::OpenDrawing(const fs::path& path) {
  auto db = std::make_unique<AcDbDatabase>(path.empty(), false);
  std::wstring file;
  if (!path.empty()) {
    file = fs::absolute(path).wstring();
    if (db->dxfIn(file.c_str()) != Acad::eOk) {
      Print(std::wstring(db->lastErrorText()) + L"\n");
      return nullptr;
    }
  }
  AcApDocument* doc = acDocManagerPtr()->Add(std::move(db), file);
  LispContext::SetCurrent(Lisp(doc));
  apps_.Broadcast(AcRx::kLoadDwgMsg);
  return doc;
}

void Session::CloseDrawing(AcApDocument* doc) {
  AcApDocManager* docs = acDocManagerPtr();
  docs->SetCurrent(doc);
  LispContext::SetCurrent(Lisp(doc));
  apps_.Broadcast(AcRx::kUnloadDwgMsg);
  ForgetDatabase(doc->database());
  lisp_.erase(doc);
  docs->Close(doc);
  LispContext::SetCurrent(docs->curDocument() ? Lisp(docs->curDocument()) : nullptr);
}

void Session::ServeMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Between commands: workbooks changed by other programs, LISP queued by applications, strings
// sent to the drawing.
void Session::Idle() {
  if (calc::Application* app = calc::Application::Running()) {
    std::vector<std::string> errors;
    app->PollFileChanges(&errors);
    for (const std::string& e : errors) Print(Utf8ToWide(e) + L"\n");
  }
  AcApDocument* doc = acDocManagerPtr()->curDocument();
  if (doc == nullptr) return;
  LispContext* lisp = Lisp(doc);
  while (lisp->HasQueued())
    for (const std::wstring& expr : lisp->TakeQueued()) lisp->Evaluate(expr);
  if (doc->HasSentInput()) input_->Queue(doc->TakeSentInput());
}

void Session::AfterCommand() {
  AcApDocManager* docs = acDocManagerPtr();
  if (docs->ResourceDepth() != 0) {
    Print(L"\nThe command left " + std::to_wstring(docs->ResourceDepth()) +
          L" resource module(s) pushed.\n");
    while (docs->ResourceDepth() != 0) docs->popResourceHandle();
  }
  if (options_.after_command) options_.after_command();
  calc::Application* app = calc::Application::Running();
  if (app == nullptr) return;
  const auto books = app->Workbooks();
  for (std::size_t i = 0; i < books.size(); ++i) {
    if (!books[i].modified) continue;
    fs::path target = books[i].path;
    if (target.empty() && !options_.new_workbook.empty()) {
      target = options_.new_workbook;
      if (new_books_++ > 0) {
        target.replace_filename(target.stem().wstring() + L"-" + std::to_wstring(new_books_) +
                                target.extension().wstring());
      }
    } else if (target.empty()) {
      // A new workbook goes beside the drawing: DRAWING-BookN.xlsx.
      AcApDocument* doc = docs->curDocument();
      fs::path drawing =
          doc && *doc->fileName() ? fs::path(doc->fileName()) : fs::current_path() / "Drawing1.dxf";
      target = drawing.parent_path() / (drawing.stem().wstring() + L"-" + books[i].name + L".xlsx");
    }
    std::string error;
    if (!app->SaveWorkbook(i, target, &error)) {
      Print(Utf8ToWide(error) + L"\n");
      save_failed_ = true;
    } else if (options_.saved_workbooks != nullptr) {
      options_.saved_workbooks->push_back(target);
    }
  }
}

int Session::RunWords(std::vector<std::wstring> words, bool from_code) {
  std::wstring command = words.front();
  words.erase(words.begin());
  input_->QueueFront(words);
  // A command run from inside another (acedCommand, LISP's command) is quiet with CMDECHO 0.
  resbuf echo{};
  const bool quiet = from_code && acedGetVar(L"CMDECHO", &echo) == RTNORM &&
                     echo.restype == RTSHORT && echo.resval.rint == 0;
  const bool was = PromptEcho();
  if (quiet) SetPromptEcho(false);
  const int status = RunCommand(command);
  SetPromptEcho(was);
  return status;
}

void Session::List() {
  ads_name ss;
  if (acedSSGet(L"_I", nullptr, nullptr, nullptr, ss) != RTNORM &&
      acedSSGet(nullptr, nullptr, nullptr, nullptr, ss) != RTNORM)
    return;
  Adesk::Int32 n = 0;
  acedSSLength(ss, &n);
  for (Adesk::Int32 i = 0; i < n; ++i) {
    ads_name ent;
    AcDbObjectId id;
    if (acedSSName(ss, i, ent) != RTNORM || acdbGetObjectId(id, ent) != Acad::eOk) continue;
    AcDbEntity* e = nullptr;
    if (acdbOpenAcDbEntity(e, id, AcDb::kForRead) != Acad::eOk) continue;
    ACHAR handle[17];
    e->handle().getIntoAsciiBuffer(handle, 17);
    ACHAR* layer = e->layer();
    Print(L"\n                  " + std::wstring(e->dxfName()) + L"  Layer: \"" + layer +
          L"\"\n                  Handle = " + handle + L"\n");
    acutDelBuffer(layer);
    if (AcDbBlockReference* ref = AcDbBlockReference::cast(e)) {
      AcDbBlockTableRecord* btr = nullptr;
      if (acdbOpenObject(btr, ref->blockTableRecord(), AcDb::kForRead) == Acad::eOk) {
        AcString name;
        btr->getName(name);
        Print(L"       Block Name: \"" + std::wstring(name.kwszPtr()) + L"\"\n");
        btr->close();
      }
      const AcGePoint3d p = ref->position();
      ACHAR x[64], y[64], z[64], a[64];
      acdbRToS(p.x, -1, -1, x, 64);
      acdbRToS(p.y, -1, -1, y, 64);
      acdbRToS(p.z, -1, -1, z, 64);
      acdbAngToS(ref->rotation(), -1, -1, a, 64);
      Print(std::wstring(L"                at point, X=") + x + L"  Y=" + y + L"  Z=" + z +
            L"\n   rotation angle: " + a + L"\n");
      AcDbObjectIterator* it = ref->attributeIterator();
      for (; it != nullptr && !it->done(); it->step()) {
        AcDbAttribute* att = nullptr;
        if (acdbOpenObject(att, it->objectId(), AcDb::kForRead) != Acad::eOk) continue;
        ACHAR* tag = att->tag();
        ACHAR* text = att->textString();
        Print(std::wstring(L"                  ATTRIBUTE  Tag: ") + tag + L"  Value: " + text +
              L"\n");
        acutDelBuffer(tag);
        acutDelBuffer(text);
        att->close();
      }
      delete it;
    }
    e->close();
  }
  acedSSFree(ss);
}

void Session::SaveAs(bool quick) {
  AcApDocument* doc = acDocManagerPtr()->curDocument();
  if (doc == nullptr) return;
  std::wstring file = doc->fileName();
  if (!quick || file.empty()) {
    ACHAR answer[1024];
    const std::wstring prompt =
        L"\nSave drawing as <" + (file.empty() ? std::wstring(L"Drawing1.dxf") : file) + L">: ";
    if (acedGetString(1, prompt.c_str(), answer, 1024) != RTNORM) return;
    if (*answer) file = fs::absolute(fs::path(answer)).wstring();
    if (file.empty()) file = fs::absolute("Drawing1.dxf").wstring();
  }
  if (doc->database()->saveAs(file.c_str()) != Acad::eOk) {
    Print(std::wstring(doc->database()->lastErrorText()) + L"\n");
    return;
  }
  doc->SetFileName(file);
}

// The host's own commands; false when `word` names none.
bool Session::HostCommand(const std::wstring& word, int* status) {
  ACHAR text[1024];
  *status = RTNORM;
  AcApDocManager* docs = acDocManagerPtr();
  if (Is(word, L"QUIT") || Is(word, L"EXIT")) {
    quit_ = true;
  } else if (Is(word, L"NEW")) {
    OpenDrawing({});
  } else if (Is(word, L"OPEN")) {
    if (acedGetString(1, L"\nEnter name of drawing to open: ", text, 1024) == RTNORM && *text)
      OpenDrawing(text);
  } else if (Is(word, L"QSAVE")) {
    SaveAs(true);
  } else if (Is(word, L"SAVEAS") || Is(word, L"SAVE")) {
    SaveAs(false);
  } else if (Is(word, L"CLOSE")) {
    if (AcApDocument* doc = docs->curDocument()) CloseDrawing(doc);
  } else if (Is(word, L"SELECT")) {
    ads_name ss;
    if (acedSSGet(nullptr, nullptr, nullptr, nullptr, ss) == RTNORM) {
      Adesk::Int32 n = 0;
      acedSSLength(ss, &n);
      std::vector<AcDbObjectId> ids;
      for (Adesk::Int32 i = 0; i < n; ++i) {
        ads_name ent;
        AcDbObjectId id;
        if (acedSSName(ss, i, ent) == RTNORM && acdbGetObjectId(id, ent) == Acad::eOk)
          ids.push_back(id);
      }
      SetPickFirst(std::move(ids));
      acedSSFree(ss);
    }
  } else if (Is(word, L"LIST")) {
    List();
  } else if (Is(word, L"GETVAR") || Is(word, L"SETVAR")) {
    if (acedGetString(0, L"\nEnter variable name: ", text, 1024) != RTNORM || !*text) return true;
    const std::wstring name = text;
    resbuf value{};
    if (acedGetVar(name.c_str(), &value) != RTNORM) {
      Print(L"Unknown variable name.  Type SETVAR ? for a list of variables.\n");
      return true;
    }
    std::wstring current = value.restype == RTSTR    ? std::wstring(value.resval.rstring)
                           : value.restype == RTREAL ? std::to_wstring(value.resval.rreal)
                                                     : std::to_wstring(value.resval.rint);
    if (value.restype == RTSTR) acutDelBuffer(value.resval.rstring);
    if (Is(word, L"GETVAR")) {
      Print(Upper(name) + L" = " + current + L"\n");
      return true;
    }
    const std::wstring prompt = L"\nEnter new value for " + name + L" <" + current + L">: ";
    if (acedGetString(0, prompt.c_str(), text, 1024) != RTNORM || !*text) return true;
    resbuf next{};
    next.restype = RTSHORT;
    try {
      next.resval.rint = static_cast<short>(std::stoi(text));
    } catch (...) {
      Print(L"Requires an integer value.\n");
      return true;
    }
    if (acedSetVar(name.c_str(), &next) != RTNORM) Print(L"Value out of range.\n");
  } else if (Is(word, L"MENULOAD")) {
    if (acedGetString(1, L"\nMenu file to load: ", text, 1024) != RTNORM || !*text) return true;
    std::wstring error;
    if (!LoadMenuGroup(fs::path(text), &error)) {
      Print(error + L"\n");
      *status = RTERROR;
    }
  } else if (Is(word, L"MENUUNLOAD")) {
    if (acedGetString(1, L"\nMenu group to unload: ", text, 1024) != RTNORM || !*text) return true;
    std::wstring error;
    if (!UnloadMenuGroup(text, &error)) Print(error + L"\n");
  } else if (Is(word, L"-TOOLBAR")) {
    if (acedGetString(1, L"\nEnter toolbar name or [ALL]: ", text, 1024) != RTNORM || !*text)
      return true;
    const std::wstring name = text;
    acedInitGet(0, L"Show Hide _Show Hide");
    if (acedGetKword(L"\nEnter an option [Show/Hide] <Show>: ", text, 1024) == RTCAN) return true;
    std::wstring error;
    if (!ShowToolbar(name, std::wstring(text) != L"Hide", &error)) Print(error + L"\n");
  } else if (Is(word, L"MENU")) {
    // The console's menu bar: the pull-downs, then an item's macro runs by its label.
    Print(ListMenus());
    if (acedGetString(1, L"\nMenu item to run (label) <none>: ", text, 1024) != RTNORM || !*text)
      return true;
    std::optional<std::wstring> macro = MacroOf(text);
    if (!macro) {
      Print(L"No menu item \"" + std::wstring(text) + L"\".\n");
      return true;
    }
    // "^C^C" cancels what runs, ";" is Enter, as in the host's menu macros.
    std::wstring m = *macro;
    while (m.rfind(L"^C", 0) == 0) m.erase(0, 2);
    for (wchar_t& c : m)
      if (c == L';') c = L'\n';
    input_->Queue(m + L"\n");
  } else if (Is(word, L"ARX")) {
    acedInitGet(0, L"Load Unload _Load Unload");
    if (acedGetKword(L"\nEnter an option [Load/Unload]: ", text, 1024) != RTNORM) return true;
    const bool load = std::wstring(text) == L"Load";
    if (acedGetString(1, load ? L"\nRunnable ObjectARX file to load: " : L"\nUnload application: ",
                      text, 1024) != RTNORM ||
        !*text)
      return true;
    std::wstring error;
    const bool done =
        load ? apps_.Load(text, static_cast<std::size_t>(docs->documentCount()), &error)
             : apps_.Unload(text, &error);
    if (!done) {
      Print(error + L"\n");
      *status = RTERROR;
    } else {
      Print(std::wstring(text) +
            (load ? L" successfully loaded.\n" : L" successfully unloaded.\n"));
    }
  } else {
    return false;
  }
  return true;
}

int Session::RunCommand(const std::wstring& word) {
  AcApDocument* doc = acDocManagerPtr()->curDocument();
  if (doc) doc->BeginCommand();
  ++depth_;
  int status = RTNORM;
  bool known = HostCommand(word, &status);
  if (!known) {
    if (AcEdCommand* cmd = acedRegCmds()->lookupCmd(word.c_str())) {
      cmd->functionAddr()();
      known = true;
    } else if (LispContext* lisp = Lisp(doc); lisp && lisp->CommandFunction(word)) {
      lisp->RunCommand(word);
      known = true;
    }
  }
  if (!known) {
    Print(L"Unknown command \"" + Upper(word) + L"\".  Press F1 for help.\n");
    status = RTERROR;
  }
  --depth_;
  if (AcApDocument* now = acDocManagerPtr()->curDocument(); now == doc && doc) doc->EndCommand();
  if (depth_ == 0) AfterCommand();
  return status;
}

void Session::RunLine(const std::wstring& line) {
  std::wstring text = line;
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.pop_back();
  std::size_t start = text.find_first_not_of(L" \t");
  if (start == std::wstring::npos) return;
  text.erase(0, start);
  if (text == L"\x03" || text == L"\x1b") {
    Print(L"*Cancel*\n");
    input_->Clear();
    return;
  }
  if (text[0] == L'(' || text[0] == L'!') {
    LispContext* lisp = Lisp(acDocManagerPtr()->curDocument());
    if (lisp == nullptr) return;
    const std::wstring result = lisp->Evaluate(text[0] == L'!' ? text.substr(1) : text);
    if (!result.empty()) Print(result + L"\n");
    return;
  }
  // A blank works as Enter: the words after the command answer its prompts.
  RunWords(Words(text));
}

int Session::Run() {
  AcApDocManager* docs = acDocManagerPtr();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!options_.no_spreadsheet) calc::RegisterApplicationClass();
  SetCommandRunner(
      [this](std::vector<std::wstring> words) { return RunWords(std::move(words), true); });
  int status = 0;
  // The drawing is read on a helper thread meanwhile: an import's workbook takes about as long
  // to open as its drawing.
  std::optional<dxf::PrefetchedLoad> early_drawing;
  if (!options_.drawing.empty() && (options_.workbook.empty() || !options_.no_spreadsheet)) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(options_.drawing, ec);
    if (!ec) early_drawing.emplace(fs::path(absolute.wstring()));
  }
  if (!options_.workbook.empty() && options_.no_spreadsheet) {
    std::fprintf(stderr, "sheetwise: -w needs the spreadsheet application\n");
    status = 2;
  } else if (!options_.workbook.empty()) {
    calc::Application* app = calc::Application::Start();
    std::string error;
    if (app == nullptr || !app->OpenWorkbook(options_.workbook, &error)) {
      std::fprintf(stderr, "sheetwise: %s\n",
                   error.empty() ? "cannot start the spreadsheet" : error.c_str());
      status = 1;
    } else {
      app->WatchFiles();
    }
  }
  if (status == 0) {
    if (options_.shortcut && options_.serve_until_interrupted) {
      // Nothing is typed: the wait serves timers, sent strings and files until Ctrl-C.
      if (::pipe(idle_pipe_) != 0) {
        std::fprintf(stderr, "sheetwise: cannot wait for events\n");
        status = 1;
      }
      InstallInterruptHandler();
      // A Ctrl-C that comes while a change is applied or saved still ends the serving.
      source_ = std::make_unique<TerminalInput>(
          idle_pipe_[0],
          [this]() -> std::optional<std::wstring> {
            if (depth_ == 0) Idle();
            return input_->PopQueued();
          },
          true);
    } else if (options_.shortcut) {
      // Nothing to read: a prompt inside the shortcut meets the end of input.
      source_ = std::make_unique<ScriptInput>();
    } else if (!options_.script.empty()) {
      auto script = std::make_unique<ScriptInput>();
      std::string error;
      if (!script->Open(options_.script, &error)) {
        std::fprintf(stderr, "sheetwise: %s\n", error.c_str());
        status = 1;
      }
      script->SetBetweenLines([this] { ServeMessages(); });
      source_ = std::move(script);
    } else {
      InstallInterruptHandler();
      source_ = std::make_unique<TerminalInput>(0, [this]() -> std::optional<std::wstring> {
        if (depth_ == 0) Idle();
        return input_->PopQueued();
      });
    }
  }
  if (status == 0) {
    input_ = std::make_unique<HostInput>(source_.get());
    SetInput(input_.get());
    // Message boxes and dialogs answer from the same lines as the prompts.
    previous_lines_ = SetMessageBoxLineSource(std::make_shared<HostLineSource>(
        input_.get(), options_.script.empty() && !options_.shortcut && ::isatty(0) == 1));
    if (options_.quiet) SetPromptEcho(false);
    // The applications' libraries are loaded while the drawing is still being read; they start
    // once it is open, as before.
    if (early_drawing)
      for (const fs::path& app : options_.apps) apps_.Map(app.wstring());
    if (OpenDrawing(options_.drawing) == nullptr) status = 1;
  }
  if (status == 0) {
    for (const fs::path& app : options_.apps) {
      std::wstring error;
      if (!apps_.Load(app.wstring(), static_cast<std::size_t>(docs->documentCount()), &error)) {
        std::fprintf(stderr, "sheetwise: %s\n", WideToUtf8(error).c_str());
        status = 1;
        break;
      }
    }
  }
  if (status == 0 && options_.shortcut) {
    ServeMessages();
    Idle();
    AcApDocument* doc = docs->curDocument();
    if (doc) doc->BeginCommand();
    ++depth_;
    status = options_.shortcut();
    --depth_;
    if (doc && docs->curDocument() == doc) doc->EndCommand();
    AfterCommand();
    if (save_failed_ && status == 0) status = 1;
    quit_ = !options_.serve_until_interrupted;
  }
  while (status == 0 && !quit_) {
    ServeMessages();
    Idle();
    if (PromptEcho()) Print(L"\nCommand: ");
    std::optional<std::wstring> line = input_->ReadLine(L"\nCommand: ");
    if (!line) break;
    if (options_.serve_until_interrupted && *line == L"\x03") break;  // Ctrl-C ends the serving
    RunLine(*line);
  }
  // The end: every drawing is closed (unsaved changes are dropped), then the applications go.
  while (AcApDocument* doc = docs->curDocument()) CloseDrawing(doc);
  apps_.UnloadAll();
  SetInput(nullptr);
  SetPromptEcho(true);
  for (int fd : idle_pipe_)
    if (fd >= 0) ::close(fd);
  if (input_) SetMessageBoxLineSource(previous_lines_);
  SetCommandRunner(nullptr);
  calc::RevokeApplicationClass();
  CoUninitialize();
  return status;
}

}  // namespace

int RunSession(const SessionOptions& options) {
  Session session(options);
  return session.Run();
}

}  // namespace sheetwise::cli
