#include "link/changequeue.h"

#include <algorithm>
#include <deque>
#include <mutex>

#include "app/vantaapp.h"
#include "platform/win/sync.h"

namespace {

// The sink's thread appends while the main thread drains: one lock for every operation.
std::mutex g_queue_mutex;
std::deque<XLChangeInfo> g_queue;  // guarded by g_queue_mutex; oldest first

void CopyName(WCHAR (&field)[MAX_PATH], const wchar_t* name) {
  std::size_t length = 0;
  if (name != nullptr) {
    while (length < MAX_PATH - 1 && name[length] != L'\0') ++length;
    std::copy(name, name + length, field);
  }
  std::fill(field + length, field + MAX_PATH, L'\0');
}

// The import-busy event is signalled for exactly as long as the drain runs, whichever way it
// ends, so that the polling goes on after a failed drain.
class BusyScope {
 public:
  BusyScope() {
    if (g_hImportBusy != nullptr) SetEvent(g_hImportBusy);
  }
  ~BusyScope() {
    if (g_hImportBusy != nullptr) ResetEvent(g_hImportBusy);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

}  // namespace

XLChangeInfo MakeChangeInfo(LONG column, LONG row, const wchar_t* sheet, const wchar_t* workbook) {
  XLChangeInfo info;
  info.column = column;
  info.row = row;
  CopyName(info.sheetName, sheet);
  CopyName(info.workbookName, workbook);
  return info;
}

void PushChange(const XLChangeInfo& change) {
  std::lock_guard<std::mutex> lock(g_queue_mutex);
  g_queue.push_back(change);
}

bool PopChange(XLChangeInfo* change) {
  std::lock_guard<std::mutex> lock(g_queue_mutex);
  if (g_queue.empty()) return false;
  *change = g_queue.back();
  g_queue.pop_back();
  return true;
}

bool PeekChange(XLChangeInfo* change) {
  std::lock_guard<std::mutex> lock(g_queue_mutex);
  if (g_queue.empty()) return false;
  *change = g_queue.back();
  return true;
}

std::size_t ChangeCount() {
  std::lock_guard<std::mutex> lock(g_queue_mutex);
  return g_queue.size();
}

std::vector<XLChangeInfo> TakeAllChanges() {
  std::lock_guard<std::mutex> lock(g_queue_mutex);
  std::vector<XLChangeInfo> all(g_queue.rbegin(), g_queue.rend());
  g_queue.clear();
  return all;
}

bool DrainChanges(const std::function<bool(const XLChangeInfo&)>& apply) {
  BusyScope busy;
  bool result = false;
  XLChangeInfo change;
  while (PopChange(&change)) result = apply(change);
  return result;
}
