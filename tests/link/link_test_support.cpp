#include "tests/link/link_test_support.h"

#include "platform/calc/application.h"
#include "platform/com/bstr.h"

namespace linktest {

FakeObject* FakeObject::Make(std::set<IID> iids) {
  return new FakeObject(std::move(iids));
}

FakeObject::~FakeObject() {
  for (IDispatch* p : held_) p->Release();
}

HRESULT FakeObject::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch && iids_.count(riid) == 0) return E_NOINTERFACE;
  *ppv = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

ULONG FakeObject::Release() {
  const ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT FakeObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT FakeObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                           UINT*) {
  ++calls_[id];
  auto it = members_.find(id);
  if (it == members_.end()) return DISP_E_MEMBERNOTFOUND;
  return it->second(result);
}

FakeObject* FakeObject::Long(DISPID id, LONG value) {
  members_[id] = [value](VARIANT* result) {
    if (result != nullptr) {
      result->vt = VT_I4;
      result->lVal = value;
    }
    return S_OK;
  };
  return this;
}

FakeObject* FakeObject::Text(DISPID id, const std::wstring& value) {
  members_[id] = [value](VARIANT* result) {
    if (result != nullptr) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    }
    return S_OK;
  };
  return this;
}

FakeObject* FakeObject::Object(DISPID id, IDispatch* value) {
  value->AddRef();
  held_.push_back(value);
  members_[id] = [value](VARIANT* result) {
    if (result != nullptr) {
      value->AddRef();
      result->vt = VT_DISPATCH;
      result->pdispVal = value;
    }
    return S_OK;
  };
  return this;
}

FakeObject* FakeObject::Fails(DISPID id, HRESULT hr) {
  members_[id] = [hr](VARIANT*) { return hr; };
  return this;
}

int FakeObject::Calls(DISPID id) const {
  auto it = calls_.find(id);
  return it == calls_.end() ? 0 : it->second;
}

FakeCell::FakeCell(LONG column, LONG row, const std::wstring& sheet_name,
                   const std::wstring& book_name, bool sheet_answers_worksheet) {
  using namespace sheetwise::calc;
  book = FakeObject::Make({IID_ExcelWorkbook})->Text(kName, book_name);
  sheet = FakeObject::Make(sheet_answers_worksheet ? std::set<IID>{IID_ExcelWorksheet}
                                                   : std::set<IID>{})
              ->Text(kName, sheet_name)
              ->Object(kParent, book);
  range = FakeObject::Make({IID_ExcelRange})
              ->Long(kColumn, column)
              ->Long(kRow, row)
              ->Object(kWorksheet, sheet);
}

FakeCell::~FakeCell() {
  range->Release();
  sheet->Release();
  book->Release();
}

HRESULT FireSheetEvent(IDispatch* sink, DISPID id, IDispatch* first, IDispatch* second) {
  VARIANT args[2];
  args[0].vt = VT_DISPATCH;  // last-first: Target
  args[0].pdispVal = second;
  args[1].vt = VT_DISPATCH;
  args[1].pdispVal = first;
  DISPPARAMS params{args, nullptr, 2, 0};
  return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

class MessageBoxRecorder::Presenter : public MessageBoxPresenter {
 public:
  int Present(HWND, std::wstring_view text, std::wstring_view caption, UINT type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back({std::wstring(text), std::wstring(caption), type});
    return 1;  // IDOK
  }
  std::vector<Box> boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;  // guarded by mutex_
};

MessageBoxRecorder::MessageBoxRecorder()
    : presenter_(std::make_shared<Presenter>()), previous_(SetMessageBoxPresenter(presenter_)) {}

MessageBoxRecorder::~MessageBoxRecorder() {
  SetMessageBoxPresenter(previous_);
}

std::vector<MessageBoxRecorder::Box> MessageBoxRecorder::boxes() const {
  return presenter_->boxes();
}

}  // namespace linktest
