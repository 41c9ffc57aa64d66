// The value conversions every exported cell and every imported cell goes through.
#include <benchmark/benchmark.h>

#include "platform/com/comdef.h"

namespace {

void BM_VariantChangeType_R8ToBstr(benchmark::State& state) {
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_R8;
  number.dblVal = 1234.5678;
  for (auto _ : state) {
    VARIANT text;
    VariantInit(&text);
    VariantChangeType(&text, &number, 0, VT_BSTR);
    benchmark::DoNotOptimize(text.bstrVal);
    VariantClear(&text);
    number.dblVal += 0.25;
  }
}
BENCHMARK(BM_VariantChangeType_R8ToBstr);

void BM_VariantChangeType_BstrToR8(benchmark::State& state) {
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L" 1,234.5678 ");
  for (auto _ : state) {
    VARIANT number;
    VariantInit(&number);
    VariantChangeType(&number, &text, 0, VT_R8);
    benchmark::DoNotOptimize(number.dblVal);
  }
  VariantClear(&text);
}
BENCHMARK(BM_VariantChangeType_BstrToR8);

void BM_VariantChangeType_BstrToDate(benchmark::State& state) {
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"12/5/2026 1:30:00 PM");
  for (auto _ : state) {
    VARIANT date;
    VariantInit(&date);
    VariantChangeType(&date, &text, 0, VT_DATE);
    benchmark::DoNotOptimize(date.date);
  }
  VariantClear(&text);
}
BENCHMARK(BM_VariantChangeType_BstrToDate);

void BM_BstrT_Copy(benchmark::State& state) {
  const _bstr_t original(L"Attribute value");
  for (auto _ : state) {
    _bstr_t copy = original;
    benchmark::DoNotOptimize(static_cast<const wchar_t*>(copy));
  }
}
BENCHMARK(BM_BstrT_Copy);

void BM_BstrT_NarrowCopy(benchmark::State& state) {
  for (auto _ : state) {
    _bstr_t text(L"Attribute value \u00e4\u00f6\u00fc");
    benchmark::DoNotOptimize(static_cast<const char*>(text));
  }
}
BENCHMARK(BM_BstrT_NarrowCopy);

}  // namespace
