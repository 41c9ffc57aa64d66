// The spreadsheet application through IDispatch::Invoke, as the program drives it: one cell
// read or written per call, the export's pattern (100,000 rows x 12 cells, a handle comment on
// each row's first cell, save) and the import's (open, read every cell and comment back).
// bench/compare_openpyxl.sh runs the big ones beside openpyxl doing the same work.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/calc/application.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/variant.h"

namespace {

using namespace sheetwise::calc;
namespace fs = std::filesystem;

struct Var : VARIANT {
  Var() { VariantInit(this); }
  ~Var() { VariantClear(this); }
};

IDispatch* g_app = nullptr;

void Start() {
  if (g_app) return;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  RegisterApplicationClass();
  IUnknown* unk = nullptr;
  CoCreateInstance(CLSID_ExcelApplication, nullptr, CLSCTX_ALL, IID_IUnknown,
                   reinterpret_cast<void**>(&unk));
  OleRun(unk);
  unk->QueryInterface(IID_ExcelApplication, reinterpret_cast<void**>(&g_app));
  unk->Release();
}

HRESULT Invoke(IDispatch* d, DISPID id, WORD kind, std::initializer_list<VARIANT> args,
               VARIANT* result) {
  VARIANT reversed[4];
  std::size_t n = 0;
  for (auto it = std::rbegin(args); it != std::rend(args); ++it) reversed[n++] = *it;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS p{reversed, kind == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<UINT>(n),
               kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
  return d->Invoke(id, IID_NULL, 0, kind, &p, result, nullptr, nullptr);
}

IDispatch* GetDispatch(IDispatch* d, DISPID id, std::initializer_list<VARIANT> args = {}) {
  Var r;
  Invoke(d, id, DISPATCH_PROPERTYGET, args, &r);
  IDispatch* out = r.pdispVal;
  if (out) out->AddRef();
  return out;
}

VARIANT I4(long v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}

IDispatch* NewSheet() {
  Start();
  IDispatch* books = GetDispatch(g_app, 0x23C);
  VARIANT missing;
  VariantInit(&missing);
  missing.vt = VT_ERROR;
  missing.scode = DISP_E_PARAMNOTFOUND;
  Var book;
  Invoke(books, 0xB5, DISPATCH_METHOD, {missing}, &book);
  books->Release();
  return GetDispatch(g_app, 0x133);
}

// Writes rows 1..rows, 12 texts each, a handle comment on column 1, as the export does.
void WriteRows(IDispatch* sheet, long rows) {
  IDispatch* cells = GetDispatch(sheet, 0xEE);
  wchar_t text[32];
  for (long r = 1; r <= rows; ++r) {
    for (long c = 1; c <= 12; ++c) {
      Var item;
      Invoke(cells, 0xAA, DISPATCH_PROPERTYGET, {I4(r), I4(c)}, &item);
      IDispatch* cell = item.pdispVal;
      if (c == 1) {
        std::swprintf(text, 32, L"%lX", 0x1000 + r);
        VARIANT handle;
        VariantInit(&handle);
        handle.vt = VT_BSTR;
        handle.bstrVal = SysAllocString(text);
        Var comment;
        Invoke(cell, 0x56D, DISPATCH_METHOD, {handle}, &comment);
        VariantClear(&handle);
      }
      std::swprintf(text, 32, c == 2 ? L"BLOCK-%ld" : L"V%ld-%ld", r, c);
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_BSTR;
      value.bstrVal = SysAllocString(text);
      Var none;
      Invoke(cell, 0x6, DISPATCH_PROPERTYPUT, {value}, &none);
      VariantClear(&value);
    }
  }
  cells->Release();
}

fs::path BenchFile(long rows) {
  return fs::temp_directory_path() / ("sheetwise-calc-bench-" + std::to_string(rows) + ".xlsx");
}

void BM_CellWriteThroughInvoke(benchmark::State& state) {
  IDispatch* sheet = NewSheet();
  IDispatch* cells = GetDispatch(sheet, 0xEE);
  Var item;
  Invoke(cells, 0xAA, DISPATCH_PROPERTYGET, {I4(5), I4(3)}, &item);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(L"A-12");
  for (auto _ : state) {
    Var none;
    Invoke(item.pdispVal, 0x6, DISPATCH_PROPERTYPUT, {value}, &none);
  }
  VariantClear(&value);
  cells->Release();
  sheet->Release();
}
BENCHMARK(BM_CellWriteThroughInvoke);

void BM_CellReadThroughInvoke(benchmark::State& state) {
  IDispatch* sheet = NewSheet();
  WriteRows(sheet, 10);
  IDispatch* cells = GetDispatch(sheet, 0xEE);
  long r = 0;
  for (auto _ : state) {
    // Item, then Value: the two calls the import makes per data cell.
    Var item;
    Invoke(cells, 0xAA, DISPATCH_PROPERTYGET, {I4(1 + (r++ % 10)), I4(4)}, &item);
    Var value;
    Invoke(item.pdispVal, 0x6, DISPATCH_PROPERTYGET, {}, &value);
    benchmark::DoNotOptimize(value.bstrVal);
  }
  cells->Release();
  sheet->Release();
}
BENCHMARK(BM_CellReadThroughInvoke);

// The export fits every column after each reference: the cost must not grow with the sheet.
void BM_AutoFitAfterEachRow(benchmark::State& state) {
  IDispatch* sheet = NewSheet();
  WriteRows(sheet, state.range(0));
  IDispatch* columns = GetDispatch(sheet, 0xF1);
  {
    // The first fit of a sheet measures every cell once; from then on the widths are kept.
    Var none;
    Invoke(columns, 0xED, DISPATCH_METHOD, {}, &none);
  }
  IDispatch* cells = GetDispatch(sheet, 0xEE);
  long r = state.range(0);
  for (auto _ : state) {
    // One more row written, then every column fitted: the export's step per reference.
    Var item;
    Invoke(cells, 0xAA, DISPATCH_PROPERTYGET, {I4(++r), I4(3)}, &item);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"A-12 (new)");
    Var none;
    Invoke(item.pdispVal, 0x6, DISPATCH_PROPERTYPUT, {value}, &none);
    VariantClear(&value);
    Invoke(columns, 0xED, DISPATCH_METHOD, {}, &none);
  }
  cells->Release();
  columns->Release();
  sheet->Release();
}
BENCHMARK(BM_AutoFitAfterEachRow)->Arg(1000)->Arg(100000)->Iterations(2000);

void BM_WriteRowsAndSave(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    IDispatch* sheet = NewSheet();
    WriteRows(sheet, rows);
    sheet->Release();
    Application* app = Application::Running();
    std::string error;
    if (!app->SaveWorkbook(app->Workbooks().size() - 1, BenchFile(rows), &error))
      state.SkipWithError(error.c_str());
  }
  state.counters["cells"] = static_cast<double>(rows * 12);
}
BENCHMARK(BM_WriteRowsAndSave)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_LoadAndReadBack(benchmark::State& state) {
  const long rows = state.range(0);
  Start();
  if (!fs::exists(BenchFile(rows))) {
    IDispatch* sheet = NewSheet();
    WriteRows(sheet, rows);
    sheet->Release();
    std::string error;
    if (!Application::Running()->SaveWorkbook(Application::Running()->Workbooks().size() - 1,
                                              BenchFile(rows), &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  // A copy, so that the open reads the file even when this process wrote it (and has it open).
  const fs::path copy = BenchFile(rows).string() + "-read.xlsx";
  fs::copy_file(BenchFile(rows), copy, fs::copy_options::overwrite_existing);
  long comments = 0;
  for (auto _ : state) {
    std::string error;
    if (!Application::Running()->OpenWorkbook(copy, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    IDispatch* sheet = GetDispatch(g_app, 0x133);
    IDispatch* cells = GetDispatch(sheet, 0xEE);
    for (long r = 1; r <= rows; ++r) {
      for (long c = 1; c <= 12; ++c) {
        Var item;
        Invoke(cells, 0xAA, DISPATCH_PROPERTYGET, {I4(r), I4(c)}, &item);
        Var value;
        Invoke(item.pdispVal, 0x6, DISPATCH_PROPERTYGET, {}, &value);
        if (c == 1) {
          Var comment;
          Invoke(item.pdispVal, 0x38E, DISPATCH_PROPERTYGET, {}, &comment);
          if (comment.pdispVal) {
            Var text;
            Invoke(comment.pdispVal, 0x8A, DISPATCH_METHOD, {}, &text);
            comments += text.vt == VT_BSTR;
          }
        }
      }
    }
    cells->Release();
    sheet->Release();
  }
  state.counters["comments"] = static_cast<double>(comments);
}
BENCHMARK(BM_LoadAndReadBack)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
