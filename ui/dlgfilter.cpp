#include "ui/dlgfilter.h"

#include <memory>

#include "drawing/layerfilter.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"

namespace {

constexpr wchar_t kPatternTip[] =
    L"Examples of using: *, a*, *a, a?b?c\r"
    L"  * - it stands for many characters\r"
    L"  ? - it stands for a one character\r"
    L"  Case sensitive!";
constexpr int kTipWidth = 200;

// Closes an object opened from the database on every way out.
template <typename T>
class Opened {
 public:
  explicit Opened(T* object) : object_(object) {}
  ~Opened() {
    if (object_ != nullptr) object_->close();
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;

 private:
  T* object_;
};

}  // namespace

CDlgFilter::CDlgFilter(CWnd* parent) : CAcUiDialog(IDD, parent) {
  MapCommand(kLayerFilterCheck, [this] { OnLayerFilterClicked(); });
  MapCommand(kNameFilterCheck, [this] { OnNameFilterClicked(); });
}

void CDlgFilter::DoDataExchange(CDataExchange* dx) {
  CAcUiDialog::DoDataExchange(dx);
  DDX_Control(dx, kLayerList, layer_list_);
  DDX_Control(dx, kPatternEdit, pattern_edit_);
  DDX_Check(dx, kLayerFilterCheck, layer_filter_);
  DDX_Check(dx, kNameFilterCheck, name_filter_);
  DDX_Check(dx, kSelectionCheck, selection_);
}

BOOL CDlgFilter::OnInitDialog() {
  CAcUiDialog::OnInitDialog();
  if (selection_ == 0) {
    if (CWnd* box = GetDlgItem(kSelectionCheck)) box->ShowWindow(SW_HIDE);
  }
  layer_list_.EnableWindow(layer_filter_ != 0);
  pattern_edit_.EnableWindow(name_filter_ != 0);
  // Before any showing has run to its end the edit offers "*"; afterwards it shows what the
  // last OK kept, which is still nothing after a first Cancel.
  pattern_edit_.SetWindowText(initialised_ ? pattern_.c_str() : L"*");

  tooltip_.Create(this);
  tooltip_.Activate(TRUE);
  tooltip_.SetMaxTipWidth(kTipWidth);
  tooltip_.AddTool(&pattern_edit_, kPatternTip);
  tooltip_.AddTool(GetDlgItem(kNameFilterCheck), kPatternTip);

  layer_list_.InsertColumn(0, L"Layer name", LVCFMT_LEFT);
  layer_list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  RECT client{};
  layer_list_.GetClientRect(&client);
  layer_list_.SetColumnWidth(0, client.right - client.left);

  if (!ListLayers()) return FALSE;

  if (initialised_) {
    const int rows = layer_list_.GetItemCount();
    for (UINT row : chosen_rows_) {
      if (static_cast<int>(row) < rows) {
        layer_list_.SetItemState(static_cast<int>(row), LVIS_SELECTED, LVIS_SELECTED);
      }
    }
  }
  layer_list_.Invalidate();
  initialised_ = true;
  return TRUE;
}

bool CDlgFilter::ListLayers() {
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return false;
  AcDbLayerTable* table = nullptr;
  if (db->getSymbolTable(table, AcDb::kForRead) != Acad::eOk || table == nullptr) return false;
  Opened<AcDbLayerTable> table_closer(table);
  AcDbLayerTableIterator* raw_iterator = nullptr;
  if (table->newIterator(raw_iterator, true, true) != Acad::eOk || raw_iterator == nullptr) {
    return false;
  }
  std::unique_ptr<AcDbLayerTableIterator> iterator(raw_iterator);
  for (iterator->start(); !iterator->done(); iterator->step()) {
    AcDbSymbolTableRecord* record = nullptr;
    if (iterator->getRecord(record, AcDb::kForRead) != Acad::eOk || record == nullptr) continue;
    Opened<AcDbSymbolTableRecord> record_closer(record);
    const AcDbLayerTableRecord* layer = AcDbLayerTableRecord::cast(record);
    if (layer == nullptr) continue;
    const ACHAR* name = nullptr;
    if (layer->getName(name) != Acad::eOk || name == nullptr) continue;
    layer_list_.InsertItem(layer_list_.GetItemCount(), name);
  }
  return true;
}

void CDlgFilter::OnLayerFilterClicked() {
  UpdateData(TRUE);
  layer_list_.EnableWindow(layer_filter_ != 0);
}

void CDlgFilter::OnNameFilterClicked() {
  UpdateData(TRUE);
  pattern_edit_.EnableWindow(name_filter_ != 0);
}

void CDlgFilter::OnOK() {
  if (!UpdateData(TRUE)) return;
  chosen_rows_.clear();
  LayerFilterNames.clear();
  const int rows = layer_list_.GetItemCount();
  for (int row = 0; row < rows; ++row) {
    if (layer_list_.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) {
      chosen_rows_.push_back(static_cast<UINT>(row));
      LayerFilterNames.push_back(layer_list_.GetItemText(row, 0));
    }
  }
  pattern_edit_.GetWindowText(pattern_);
  LayerFilterOn = layer_filter_ != 0;
  EndDialog(IDOK);
}

BOOL CDlgFilter::PreTranslateMessage(MSG* msg) {
  tooltip_.RelayEvent(msg);
  return CAcUiDialog::PreTranslateMessage(msg);
}
