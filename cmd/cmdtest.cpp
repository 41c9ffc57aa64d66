// vatest: checks step by step that the spreadsheet application can be reached or started, made
// interactive and visible, and has an active workbook; a trace line after each step shows how
// far it came.
#include "cmd/commands.h"
#include "excel/comerror.h"
#include "excel/excel.h"
#include "platform/host/editor.h"
#include "platform/host/menus.h"
#include "platform/win/message.h"

namespace {

void Checkpoint(int number) {
  acutPrintf(L"\nDEBUG: %s (%d)", L"cmd\\cmdtest", number);
}

void RunTest() {
  Checkpoint(48);
  Excel::_ApplicationPtr excel;
  if (FAILED(AttachExcel(excel, "Excel.Application"))) {
    Checkpoint(50);
    if (FAILED(CreateExcel(excel, "Excel.Application", nullptr, CLSCTX_ALL))) {
      // The long sentence is the caption, as users of the earlier versions know it.
      MessageBoxW(adsw_acadMainWnd(), L"Error", L"ERROR: Failed to to obtain Excel object.",
                  MB_ICONERROR);
      return;
    }
  }
  if (!excel) {
    acutPrintf(L"\nDEBUG: pExcel == NULL");
    return;
  }
  excel->PutInteractive(VARIANT_TRUE);
  Checkpoint(64);
  excel->PutVisible(VARIANT_TRUE);
  Checkpoint(66);
  IDispatchPtr workbook = excel->GetActiveWorkbook();
  Checkpoint(68);
  if (!workbook) {
    IDispatchPtr workbooks = excel->GetWorkbooks();
    workbook = Excel::Workbooks(workbooks).Add();
  }
  Checkpoint(72);
  if (!workbook) throw _com_error(E_POINTER);
  Excel::_Workbook(workbook).Activate();
  Checkpoint(74);
}

}  // namespace

void VaTestCommand() {
  try {
    RunTest();
  } catch (const _com_error& error) {
    ReportComError(error);
  } catch (const COleException& error) {
    ReportOleException(error);
  } catch (const COleDispatchException& error) {
    ReportDispatchException(error);
  } catch (...) {
    MessageBoxW(adsw_acadMainWnd(), L"ERROR: general exception found.", L"Error", MB_ICONERROR);
  }
}
