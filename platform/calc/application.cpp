#include "platform/calc/application.h"

#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

#include "platform/calc/objects.h"
#include "platform/com/classes.h"
#include "platform/com/marshal.h"
#include "platform/com/rot.h"
#include "platform/win/codepage.h"
#include "platform/win/registry.h"

namespace sheetwise::calc {

IUnknown* NewApplicationObject(AppState* state);
IUnknown* ApplicationUnknown(AppState& state);
void FireOutsideChange(AppState& s, const std::shared_ptr<BookState>& book,
                       const std::shared_ptr<xlsx::Sheet>& sheet, std::uint32_t row,
                       std::uint32_t col);

namespace {

// One application per process, as one Excel serves every caller of a desktop session.
AppState* g_state = nullptr;
DWORD g_class_cookie = 0;

AppState& State() {
  if (g_state == nullptr) g_state = new AppState();
  return *g_state;
}

class Factory : public IClassFactory {
 public:
  virtual ~Factory() = default;
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    AppState& s = State();
    // A second CreateObject finds the application that runs, as one instance serves all.
    if (IUnknown* running = ApplicationUnknown(s)) return running->QueryInterface(riid, ppv);
    IUnknown* made = NewApplicationObject(&s);
    const HRESULT hr = made->QueryInterface(riid, ppv);
    made->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  ULONG refs_ = 1;
};

void Remember(BookState& b, const win::FileVersion& version) {
  b.file = version;
}

void Remember(BookState& b) {
  Remember(b, win::FileVersion::Of(b.path));
}

void Watch(AppState& s, const std::filesystem::path& path) {
  if (s.watch_fd < 0 || path.empty()) return;
  // The folder is watched: a save by another program usually replaces the file (a new inode).
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  ::inotify_add_watch(s.watch_fd, folder.c_str(),
                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY);
}

}  // namespace

HRESULT RegisterApplicationClass() {
  if (g_class_cookie != 0) return S_FALSE;
  // The proxies of the spreadsheet's interfaces, for the live link's apartment.
  for (const IID* iid : {&IID_ExcelApplication, &IID_ExcelWorkbook, &IID_ExcelWorksheet,
                         &IID_ExcelWorksheets, &IID_ExcelRange, &DIID_AppEvents})
    RegisterInterfaceProxy(*iid, &MakeInterfaceProxy<DispatchProxy>);
  SettingsOverlaySetString(HKEY_CLASSES_ROOT, L"Excel.Application\\CLSID", nullptr,
                           L"{00024500-0000-0000-C000-000000000046}");
  SettingsOverlaySetString(HKEY_CLASSES_ROOT, L"Excel.Application", nullptr,
                           L"Sheetwise spreadsheet");
  auto* factory = new Factory();
  const HRESULT hr = CoRegisterClassObject(CLSID_ExcelApplication, factory,
                                           CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                           REGCLS_MULTIPLEUSE, &g_class_cookie);
  factory->Release();
  if (FAILED(hr)) g_class_cookie = 0;
  return hr;
}

void RevokeApplicationClass() {
  if (g_class_cookie != 0) CoRevokeClassObject(g_class_cookie);
  g_class_cookie = 0;
  if (g_state != nullptr && g_state->rot_cookie != 0) {
    RevokeActiveObject(g_state->rot_cookie, nullptr);
    g_state->rot_cookie = 0;
  }
}

Application* Application::Running() {
  if (g_state == nullptr || g_state->object == nullptr || g_state->rot_cookie == 0) return nullptr;
  if (!g_state->face) g_state->face = std::make_unique<Application>(g_state);
  return g_state->face.get();
}

Application* Application::Start() {
  if (Application* running = Running()) return running;
  IUnknown* unk = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ExcelApplication, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                              reinterpret_cast<void**>(&unk))))
    return nullptr;
  const HRESULT hr = OleRun(unk);
  unk->Release();  // the running-object table holds it
  return SUCCEEDED(hr) ? Running() : nullptr;
}

bool Application::OpenWorkbook(const std::filesystem::path& path, std::string* error) {
  AppState& s = *state_;
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  for (const auto& b : s.books)
    if (!b->path.empty() && std::filesystem::equivalent(b->path, full, ec)) {
      s.active = b;
      return true;
    }
  xlsx::BookResult opened = xlsx::Book::Open(full);
  if (!opened) {
    if (error) *error = opened.error->ToString();
    return false;
  }
  auto b = std::make_shared<BookState>();
  b->book = std::move(opened.book);
  b->path = full;
  b->name = Utf8ToWide(full.filename().string());
  Remember(*b);
  s.books.push_back(b);
  s.active = b;
  Watch(s, full);
  return true;
}

std::vector<Application::WorkbookInfo> Application::Workbooks() const {
  std::vector<WorkbookInfo> out;
  for (const auto& b : state_->books) out.push_back({b->name, b->path, b->book->modified()});
  return out;
}

bool Application::SaveWorkbook(std::size_t index, const std::filesystem::path& path,
                               std::string* error) {
  AppState& s = *state_;
  if (index >= s.books.size()) {
    if (error) *error = "no workbook " + std::to_string(index + 1);
    return false;
  }
  BookState& b = *s.books[index];
  std::error_code ec;
  const std::filesystem::path target = path.empty() ? b.path : std::filesystem::absolute(path, ec);
  if (target.empty()) {
    if (error) *error = WideToUtf8(b.name) + " has no file yet: give a path";
    return false;
  }
  if (auto failed = b.book->Save(target)) {
    if (error) *error = failed->ToString();
    return false;
  }
  if (target != b.path) {
    b.path = target;
    b.name = Utf8ToWide(target.filename().string());
    Watch(s, target);
  }
  Remember(b);
  return true;
}

int Application::WatchFiles() {
  AppState& s = *state_;
  if (s.watch_fd >= 0) return s.watch_fd;
  s.watch_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (s.watch_fd < 0) return -1;
  for (const auto& b : s.books) Watch(s, b->path);
  return s.watch_fd;
}

std::size_t Application::PollFileChanges(std::vector<std::string>* errors) {
  AppState& s = *state_;
  if (s.watch_fd >= 0) {  // the events only wake the host; the file stamps tell what changed
    char buf[4096];
    while (::read(s.watch_fd, buf, sizeof buf) > 0) {
    }
  }
  std::size_t changed = 0;
  for (const std::shared_ptr<BookState>& b : std::vector(s.books)) {
    if (b->path.empty()) continue;
    const win::FileVersion now = win::FileVersion::Of(b->path);
    if (!now.exists || now == b->file) continue;
    // The version looked at is the one taken before reading: a writer that finishes while the
    // file is read leaves a newer version, read at the next poll. A file caught half-written is
    // thus read again once written; a damaged one stays as it was in memory.
    Remember(*b, now);
    xlsx::BookResult fresh = xlsx::Book::Open(b->path);
    if (!fresh) {
      if (errors) errors->push_back(fresh.error->ToString());
      continue;
    }
    b->widths.clear();
    std::vector<xlsx::CellChange> cells = b->book->Replace(std::move(fresh.book));
    changed += cells.size();
    for (const xlsx::CellChange& c : cells) {
      std::optional<std::size_t> index = b->book->FindSheet(c.sheet);
      if (!index) continue;
      FireOutsideChange(s, b, b->book->sheet_ptr(*index), c.row, c.col);
    }
  }
  return changed;
}

}  // namespace sheetwise::calc
