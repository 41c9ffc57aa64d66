// Helpers of the live link's tests: a scriptable stand-in for the spreadsheet's objects (a range,
// its worksheet, its workbook: any IDispatch that answers chosen interfaces and DISPIDs), a
// message-box recorder, and SheetChange delivered to a sink as the spreadsheet delivers it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/com/comtypes.h"
#include "platform/win/message.h"

namespace linktest {

/// Excel's DISPIDs that the sink calls.
inline constexpr DISPID kColumn = 0xF0;
inline constexpr DISPID kRow = 0x101;
inline constexpr DISPID kWorksheet = 0x15C;
inline constexpr DISPID kParent = 0x96;
inline constexpr DISPID kName = 0x6E;

/// An object of the spreadsheet, made of its interfaces and members. One thread at a time.
class FakeObject final : public IDispatch {
 public:
  using Member = std::function<HRESULT(VARIANT* result)>;

  /// A new object with one reference for the caller.
  static FakeObject* Make(std::set<IID> iids);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override;

  /// Members answering a value; `Fails` answers an HRESULT.
  FakeObject* Long(DISPID id, LONG value);
  FakeObject* Text(DISPID id, const std::wstring& value);
  FakeObject* Object(DISPID id, IDispatch* value);  // adds its own reference
  FakeObject* Fails(DISPID id, HRESULT hr);
  /// How often member `id` was invoked.
  int Calls(DISPID id) const;

 private:
  explicit FakeObject(std::set<IID> iids) : iids_(std::move(iids)) {}
  ~FakeObject();
  ULONG refs_ = 1;
  std::set<IID> iids_;
  std::map<DISPID, Member> members_;
  std::map<DISPID, int> calls_;
  std::vector<IDispatch*> held_;
};

/// A cell (`column`, `row`) of worksheet `sheet` in workbook `book`; each object answers its
/// Excel interface. The caller owns one reference on each.
struct FakeCell {
  FakeObject* book = nullptr;
  FakeObject* sheet = nullptr;
  FakeObject* range = nullptr;
  FakeCell(LONG column, LONG row, const std::wstring& sheet_name, const std::wstring& book_name,
           bool sheet_answers_worksheet = true);
  ~FakeCell();
  FakeCell(const FakeCell&) = delete;
  FakeCell& operator=(const FakeCell&) = delete;
};

/// Calls `sink`'s Invoke with event `id` and `first`, `second` in declaration order (they are
/// passed last-first, as a source does). Returns Invoke's HRESULT.
HRESULT FireSheetEvent(IDispatch* sink, DISPID id, IDispatch* first, IDispatch* second);

/// Records message boxes instead of showing them (answers IDOK), installed for its lifetime.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  struct Box {
    std::wstring text;
    std::wstring caption;
    UINT type;
  };
  std::vector<Box> boxes() const;

 private:
  class Presenter;
  std::shared_ptr<Presenter> presenter_;
  std::shared_ptr<MessageBoxPresenter> previous_;
};

}  // namespace linktest
