// The live link's costs: one record through the change queue (the sink appends, the drain
// takes), and one edit in the spreadsheet until its record is queued by the sink on the link's
// apartment thread: the event crosses to that thread and the sink's seven calls come back
// through proxies. The link promises an edit in the drawing within about a second; the edit's
// part must stay far below that (and below the 100 ms a file-watch tick takes).
#include <benchmark/benchmark.h>

#include "app/vantaapp.h"
#include "excel/excel.h"
#include "link/appeventhandler.h"
#include "link/changequeue.h"
#include "link/linkcontrol.h"
#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/win/sync.h"

namespace {

void BM_QueuePushThenDrain(benchmark::State& state) {
  const XLChangeInfo change = MakeChangeInfo(3, 7, L"Sheet1", L"plant.xlsx");
  const auto batch = state.range(0);
  for (auto _ : state) {
    for (int64_t i = 0; i < batch; ++i) PushChange(change);
    LONG rows = 0;
    DrainChanges([&](const XLChangeInfo& c) {
      rows += c.row;
      return true;
    });
    benchmark::DoNotOptimize(rows);
  }
  state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_QueuePushThenDrain)->Arg(1)->Arg(100);

void BM_EditUntilQueued(benchmark::State& state) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  sheetwise::calc::RegisterApplicationClass();
  RegisterVantaTypeLib(L"sheetwise.arx");
  {
    CVantaApp app;
    Excel::_ApplicationPtr excel;
    CreateExcel(excel, "Excel.Application");
    Excel::Workbooks(excel->GetWorkbooks()).Add();
    Excel::_WorksheetPtr sheet = excel->GetActiveSheet();
    EnableLink(&app);
    Excel::RangePtr cell =
        Excel::Range(sheet->GetCells()).GetItem(_variant_t(LONG{3}), _variant_t(LONG{2}));
    LONG value = 0;
    for (auto _ : state) {
      cell->PutValue(_variant_t(++value));
      if (ChangeCount() != 1) state.SkipWithError("the edit was not queued");
      TakeAllChanges();
    }
    DisableLink(&app);
    SetEvent(app.m_hStopEvent);
    WaitForSingleObject(app.m_hThread, INFINITE);
    CloseHandle(app.m_hThread);
    CloseHandle(app.m_hReadyEvent);
    CloseHandle(app.m_hStopEvent);
    if (app.m_pEventHandler != nullptr) app.m_pEventHandler->Release();
  }
  sheetwise::calc::RevokeApplicationClass();
  CoUninitialize();
}
BENCHMARK(BM_EditUntilQueued)->Unit(benchmark::kMicrosecond);

}  // namespace
