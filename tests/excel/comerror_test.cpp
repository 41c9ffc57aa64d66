// The reports of COM, OLE and dispatch errors, captured at the message box, and the meaning
// text of an HRESULT. System texts are those of the platform's message table (Windows' wording).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "excel/comerror.h"
#include "platform/com/errorinfo.h"
#include "platform/host/menus.h"

namespace {

struct Shown {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

class Capture : public MessageBoxPresenter {
 public:
  int Present(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) override {
    shown.push_back({owner, std::wstring(text), std::wstring(caption), type});
    return IDOK;
  }
  std::vector<Shown> shown;
};

class Reports : public ::testing::Test {
 protected:
  void SetUp() override {
    capture_ = std::make_shared<Capture>();
    previous_ = SetMessageBoxPresenter(capture_);
  }
  void TearDown() override { SetMessageBoxPresenter(previous_); }
  const Shown& Only() {
    EXPECT_EQ(capture_->shown.size(), 1u);
    return capture_->shown.back();
  }
  std::shared_ptr<Capture> capture_;
  std::shared_ptr<MessageBoxPresenter> previous_;
};

// An error object as an exception record leaves it; null strings stay unset.
IErrorInfo* MakeInfo(const wchar_t* source, const wchar_t* description) {
  ICreateErrorInfo* create = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  if (source) create->SetSource(const_cast<LPOLESTR>(source));
  if (description) create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  return info;
}

TEST(ErrorMessage, ExplainsEveryKindOfHresult) {
  struct Case {
    DWORD hr;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0x800A03EC, L"Unknown error 0x800A03EC"},  // Excel's own code: no system text
      {0x80040205, L"IDispatch error #5"},
      {0x80040201, L"IDispatch error #1"},
      {0x800405E8, L"IDispatch error #1000"},
      {0x8004FFFF, L"IDispatch error #65023"},
      {0x80040200, L"Unknown error 0x80040200"},  // just below the dispatch range
      {0x00ABCDEF, L"Unknown error 0xABCDEF"},    // %0lX: no padding
      // System texts lose their "\r\n".
      {0x80070057, L"The parameter is incorrect."},
      {0x80004002, L"No such interface supported"},
      {0x80020009, L"Exception occurred."},
      {0x80070002, L"The system cannot find the file specified."},
  };
  for (const Case& c : cases) {
    _com_error error(static_cast<HRESULT>(c.hr));
    EXPECT_EQ(std::wstring(ErrorMessage(error)), c.text) << std::hex << c.hr;
    EXPECT_EQ(ErrorMessage(error), ErrorMessage(error)) << "built once, kept by the exception";
  }
}

TEST_F(Reports, ComErrorWithoutErrorInformationSaysNull) {
  ReportComError(_com_error(static_cast<HRESULT>(0x800A03ECu)));
  const Shown& box = Only();
  EXPECT_EQ(box.text,
            L"COM error!\n"
            L"Code = 800a03ec\n"
            L"Code meaning = Unknown error 0x800A03EC\n"
            L"Source = null\n"
            L"Description = null\n");
  EXPECT_EQ(box.caption, L"Sheetwise");
  EXPECT_EQ(box.type, MB_OK);
  EXPECT_EQ(box.owner, adsw_acadMainWnd());
}

TEST_F(Reports, ComErrorWithErrorInformationShowsSourceAndDescription) {
  _com_error error(E_INVALIDARG, MakeInfo(L"Microsoft Excel", L"Unable to set the Name property"));
  ReportComError(error);
  EXPECT_EQ(Only().text,
            L"COM error!\n"
            L"Code = 80070057\n"
            L"Code meaning = The parameter is incorrect.\n"
            L"Source = Microsoft Excel\n"
            L"Description = Unable to set the Name property\n");
  EXPECT_EQ(Source(error), L"Microsoft Excel");

  // An empty source, a missing description: both "null".
  capture_->shown.clear();
  ReportComError(_com_error(static_cast<HRESULT>(0x80040205u), MakeInfo(L"", nullptr)));
  EXPECT_EQ(Only().text,
            L"COM error!\n"
            L"Code = 80040205\n"
            L"Code meaning = IDispatch error #5\n"
            L"Source = null\n"
            L"Description = null\n");

  // Each line is formatted into 1024 characters: a longer description is cut.
  capture_->shown.clear();
  const std::wstring long_text(3000, L'x');
  ReportComError(_com_error(E_FAIL, MakeInfo(L"S", long_text.c_str())));
  const std::wstring& text = Only().text;
  const std::size_t start = text.find(L"Description = ");
  ASSERT_NE(start, std::wstring::npos);
  EXPECT_EQ(text.size() - start, 1023u);
}

TEST_F(Reports, OleAndDispatchExceptions) {
  ReportOleException(COleException(static_cast<SCODE>(0x80030002u)));
  ReportOleException(COleException(0x2A));
  ReportDispatchException(COleDispatchException(L"The cell is locked.", 0, 1000));
  ASSERT_EQ(capture_->shown.size(), 3u);
  EXPECT_EQ(capture_->shown[0].text, L"Ole Error : 0x80030002");
  EXPECT_EQ(capture_->shown[1].text, L"Ole Error : 0x0000002A");
  EXPECT_EQ(capture_->shown[2].text, L"Dispatch error : The cell is locked.");
  for (const Shown& box : capture_->shown) {
    EXPECT_EQ(box.caption, L"Sheetwise");
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_EQ(box.owner, adsw_acadMainWnd());
  }
}

TEST_F(Reports, AfxMessageBoxPassesTypeAndAnswer) {
  EXPECT_EQ(AfxMessageBox(L"Replace?", MB_YESNO | MB_ICONQUESTION), IDOK);
  EXPECT_EQ(Only().type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(Only().text, L"Replace?");
}

}  // namespace
