// The wrappers used from another apartment, as the live link's handler uses them on its sink's
// thread: attached anew there, called through proxies, failures raised there with the
// application's source and description.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "excel/excel.h"
#include "platform/calc/application.h"
#include "tests/platform/com/com_test_support.h"

namespace {

using namespace Excel;

TEST(ExcelApartments, AnotherThreadAttachesAndCallsThroughProxies) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ASSERT_TRUE(SUCCEEDED(sheetwise::calc::RegisterApplicationClass()));
  {
    _ApplicationPtr app;
    ASSERT_EQ(CreateExcel(app, "Excel.Application"), S_OK);
    Workbooks(app->GetWorkbooks()).Add();
    _WorksheetPtr sheet = app->GetActiveSheet();
    ASSERT_TRUE(sheet);
    RangePtr cell = Range(sheet->GetCells()).GetItem(_variant_t(SHORT{3}), _variant_t(SHORT{2}));
    cell->PutValue(_variant_t(L"P-101"));

    comtest::StaThread link;
    std::wstring seen;
    HRESULT refused = S_OK;
    std::wstring refused_source;
    link.Run([&] {
      // Each operation attaches anew in its own apartment; nothing is shared with the main
      // thread but the process-wide missing argument.
      _ApplicationPtr remote;
      ASSERT_EQ(AttachExcel(remote, "Excel.Application"), S_OK);
      EXPECT_NE(remote.GetInterfacePtr(), app.GetInterfacePtr()) << "a proxy";
      _WorksheetPtr there = remote->GetActiveSheet();
      ASSERT_TRUE(there);
      RangePtr found = Range(there->GetCells()).GetItem(_variant_t(LONG{3}), _variant_t(LONG{2}));
      ASSERT_TRUE(found);
      _WorksheetPtr owner = found->GetWorksheet();
      seen = std::wstring(static_cast<const wchar_t*>(owner->GetName())) + L"!" +
             std::to_wstring(found->GetRow()) + L"," + std::to_wstring(found->GetColumn()) + L"=" +
             static_cast<const wchar_t*>(_bstr_t(found->GetValue()));
      try {
        there->PutName(L"bad/name");
      } catch (const _com_error& e) {
        refused = e.Error();
        refused_source = static_cast<const wchar_t*>(e.Source());
      }
    });
    EXPECT_EQ(seen, L"Sheet1!3,2=P-101");
    EXPECT_EQ(refused, sheetwise::calc::kExcelError);
    EXPECT_EQ(refused_source, sheetwise::calc::kErrorSource);
    EXPECT_EQ(sheet->GetName(), L"Sheet1");
    link.Quit();
    link.Join();
  }
  sheetwise::calc::RevokeApplicationClass();
  CoUninitialize();
}

}  // namespace
