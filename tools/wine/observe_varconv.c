/* Prints what oleaut32 answers for the VariantChangeType rows that varconv_test.cpp checks.
 * Build and run under Wine (never in CI), see README.md beside this file. */
#define COBJMACROS
#include <math.h>
#include <oleauto.h>
#include <stdio.h>
#include <windows.h>

static const char* VtName(VARTYPE vt) {
  static char buf[32];
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_NULL:
      return "NULL";
    case VT_I2:
      return "I2";
    case VT_I4:
      return "I4";
    case VT_R4:
      return "R4";
    case VT_R8:
      return "R8";
    case VT_CY:
      return "CY";
    case VT_DATE:
      return "DATE";
    case VT_BSTR:
      return "BSTR";
    case VT_DISPATCH:
      return "DISPATCH";
    case VT_ERROR:
      return "ERROR";
    case VT_BOOL:
      return "BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_UNKNOWN:
      return "UNKNOWN";
    case VT_I1:
      return "I1";
    case VT_UI1:
      return "UI1";
    case VT_UI2:
      return "UI2";
    case VT_UI4:
      return "UI4";
    case VT_I8:
      return "I8";
    case VT_UI8:
      return "UI8";
    case VT_INT:
      return "INT";
    case VT_UINT:
      return "UINT";
  }
  sprintf(buf, "vt%u", vt);
  return buf;
}

static void PrintValue(const VARIANT* v) {
  switch (V_VT(v)) {
    case VT_EMPTY:
      printf("EMPTY");
      break;
    case VT_NULL:
      printf("NULL");
      break;
    case VT_I1:
      printf("I1 %d", V_I1(v));
      break;
    case VT_I2:
      printf("I2 %d", V_I2(v));
      break;
    case VT_I4:
      printf("I4 %ld", V_I4(v));
      break;
    case VT_INT:
      printf("INT %d", V_INT(v));
      break;
    case VT_UI1:
      printf("UI1 %u", V_UI1(v));
      break;
    case VT_UI2:
      printf("UI2 %u", V_UI2(v));
      break;
    case VT_UI4:
      printf("UI4 %lu", V_UI4(v));
      break;
    case VT_UINT:
      printf("UINT %u", V_UINT(v));
      break;
    case VT_I8:
      printf("I8 %lld", V_I8(v));
      break;
    case VT_UI8:
      printf("UI8 %llu", V_UI8(v));
      break;
    case VT_R4:
      printf("R4 %.9g", V_R4(v));
      break;
    case VT_R8:
      printf("R8 %.17g", V_R8(v));
      break;
    case VT_DATE:
      printf("DATE %.17g", V_DATE(v));
      break;
    case VT_CY:
      printf("CY %lld", V_CY(v).int64);
      break;
    case VT_BOOL:
      printf("BOOL %d", V_BOOL(v));
      break;
    case VT_ERROR:
      printf("ERROR 0x%08lx", V_ERROR(v));
      break;
    case VT_BSTR: {
      printf("BSTR \"");
      for (UINT i = 0; i < SysStringLen(V_BSTR(v)); i++) {
        WCHAR c = V_BSTR(v)[i];
        if (c >= 32 && c < 127)
          putchar(c);
        else
          printf("\\u%04x", c);
      }
      printf("\"");
      break;
    }
    case VT_DISPATCH:
      printf("DISPATCH %s", V_DISPATCH(v) ? "obj" : "null");
      break;
    case VT_UNKNOWN:
      printf("UNKNOWN %s", V_UNKNOWN(v) ? "obj" : "null");
      break;
    default:
      printf("vt%u", V_VT(v));
  }
}

/* A tiny object: answers IUnknown, and IDispatch when has_dispatch; its default value is
 * `value` when invoke_hr succeeds. */
typedef struct Obj {
  IDispatchVtbl* lpVtbl;
  LONG refs;
  int has_dispatch;
  HRESULT invoke_hr;
  VARIANT value;
} Obj;

static HRESULT STDMETHODCALLTYPE ObjQI(IDispatch* me, REFIID riid, void** ppv) {
  Obj* o = (Obj*)me;
  if (IsEqualIID(riid, &IID_IUnknown) || (o->has_dispatch && IsEqualIID(riid, &IID_IDispatch))) {
    *ppv = me;
    o->refs++;
    return S_OK;
  }
  *ppv = NULL;
  return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE ObjAddRef(IDispatch* me) {
  return ++((Obj*)me)->refs;
}
static ULONG STDMETHODCALLTYPE ObjRelease(IDispatch* me) {
  return --((Obj*)me)->refs;
}
static HRESULT STDMETHODCALLTYPE ObjCount(IDispatch* me, UINT* n) {
  (void)me;
  *n = 0;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE ObjTI(IDispatch* me, UINT i, LCID l, ITypeInfo** t) {
  (void)me;
  (void)i;
  (void)l;
  *t = NULL;
  return E_NOTIMPL;
}
static HRESULT STDMETHODCALLTYPE ObjIds(IDispatch* me, REFIID r, LPOLESTR* n, UINT c, LCID l,
                                        DISPID* d) {
  (void)me;
  (void)r;
  (void)n;
  (void)c;
  (void)l;
  (void)d;
  return E_NOTIMPL;
}
static HRESULT STDMETHODCALLTYPE ObjInvoke(IDispatch* me, DISPID id, REFIID r, LCID l, WORD f,
                                           DISPPARAMS* p, VARIANT* res, EXCEPINFO* e, UINT* a) {
  Obj* o = (Obj*)me;
  (void)r;
  (void)l;
  (void)p;
  (void)e;
  (void)a;
  printf("[invoke id=%ld flags=%u] ", id, f);
  if (FAILED(o->invoke_hr)) return o->invoke_hr;
  return VariantCopy(res, &o->value);
}
static IDispatchVtbl obj_vtbl = {ObjQI, ObjAddRef, ObjRelease, ObjCount, ObjTI, ObjIds, ObjInvoke};

static void Row(const char* label, VARIANT* src, USHORT flags, VARTYPE vt) {
  VARIANT dst;
  VariantInit(&dst);
  HRESULT hr = VariantChangeTypeEx(&dst, src, 0x0409, flags, vt);
  printf("%-40s -> %-8s flags=%02x : hr=0x%08lx ", label, VtName(vt), flags, hr);
  if (SUCCEEDED(hr)) PrintValue(&dst);
  printf("\n");
  VariantClear(&dst);
}

static void Str(const wchar_t* text, USHORT flags, VARTYPE vt) {
  VARIANT v;
  char label[128];
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text);
  snprintf(label, sizeof label, "BSTR \"%ls\"", text);
  Row(label, &v, flags, vt);
  VariantClear(&v);
}

static void R8(double d, USHORT flags, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_R8;
  V_R8(&v) = d;
  snprintf(label, sizeof label, "R8 %.17g", d);
  Row(label, &v, flags, vt);
}
static void R4(float f, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_R4;
  V_R4(&v) = f;
  snprintf(label, sizeof label, "R4 %.9g", f);
  Row(label, &v, 0, vt);
}
static void Date(double d, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_DATE;
  V_DATE(&v) = d;
  snprintf(label, sizeof label, "DATE %.17g", d);
  Row(label, &v, 0, vt);
}
static void I4(LONG i, USHORT flags, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_I4;
  V_I4(&v) = i;
  snprintf(label, sizeof label, "I4 %ld", i);
  Row(label, &v, flags, vt);
}
static void I2(SHORT i, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_I2;
  V_I2(&v) = i;
  snprintf(label, sizeof label, "I2 %d", i);
  Row(label, &v, 0, vt);
}
static void Bool(VARIANT_BOOL b, USHORT flags, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = b;
  snprintf(label, sizeof label, "BOOL %d", b);
  Row(label, &v, flags, vt);
}
static void Simple(VARTYPE from, VARTYPE vt) {
  VARIANT v;
  char label[64];
  V_VT(&v) = from;
  V_I8(&v) = 0;
  if (from == VT_ERROR) V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  snprintf(label, sizeof label, "%s", VtName(from));
  Row(label, &v, 0, vt);
}

int main(void) {
  static const VARTYPE all[] = {VT_EMPTY,   VT_NULL,    VT_I2,   VT_I4,       VT_R4,    VT_R8,
                                VT_CY,      VT_DATE,    VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL,
                                VT_VARIANT, VT_UNKNOWN, VT_I1,   VT_UI1,      VT_UI2,   VT_UI4,
                                VT_I8,      VT_UI8,     VT_INT,  VT_UINT};
  const int n = sizeof all / sizeof all[0];
  int i;
  /* The whole table of simple sources. */
  for (i = 0; i < n; i++) Simple(VT_EMPTY, all[i]);
  for (i = 0; i < n; i++) Simple(VT_NULL, all[i]);
  for (i = 0; i < n; i++) Simple(VT_ERROR, all[i]);
  for (i = 0; i < n; i++) I4(-1, 0, all[i]);
  for (i = 0; i < n; i++) Bool(VARIANT_TRUE, 0, all[i]);
  for (i = 0; i < n; i++) R8(2.5, 0, all[i]);
  Bool(VARIANT_TRUE, VARIANT_ALPHABOOL, VT_BSTR);
  Bool(VARIANT_FALSE, VARIANT_ALPHABOOL, VT_BSTR);
  Bool(VARIANT_FALSE, 0, VT_BSTR);
  Bool(VARIANT_TRUE, VARIANT_LOCALBOOL, VT_BSTR);
  Bool(5, 0, VT_I4);
  Bool(5, VARIANT_ALPHABOOL, VT_BSTR);
  I4(0, 0, VT_ERROR);
  I4(DISP_E_PARAMNOTFOUND, 0, VT_ERROR);
  I4(70000, 0, VT_I2);
  I4(32767, 0, VT_I2);
  I4(-32768, 0, VT_I2);
  I4(-32769, 0, VT_I2);
  I4(256, 0, VT_UI1);
  I4(-129, 0, VT_I1);
  I4(123, 0, VT_DATE);
  I4(3000000, 0, VT_DATE);
  I4(2147483647, 0, VT_R4);
  I4(-5, 0, VT_VARIANT);
  I4(5, 0, VT_I4 | VT_BYREF);
  I4(5, 0, VT_I4 | VT_ARRAY);
  I4(5, 0, 15);
  I4(5, 0, VT_VOID);
  I4(5, 0, VT_DECIMAL);

  /* Rounding and overflow of doubles into integers. */
  {
    static const double r[] = {
        0.5,       1.5,          2.5,          3.5,          -0.5,          -1.5,          -2.5,
        2.4999999, 2.5000001,    32767.4,      32767.5,      32766.5,       -32768.5,      -32768.6,
        -32769.5,  2147483647.4, 2147483647.5, 2147483646.5, -2147483648.5, -2147483648.6, 1e300,
        -1e300,    255.5,        254.5,        -0.4,         -0.6};
    for (i = 0; i < (int)(sizeof r / sizeof r[0]); i++) {
      R8(r[i], 0, VT_I2);
      R8(r[i], 0, VT_I4);
      R8(r[i], 0, VT_UI1);
    }
    R8(1e19, 0, VT_I8);
    R8(9.2233720368547748e18, 0, VT_I8);
    R8(-9.2233720368547758e18, 0, VT_I8);
    R8(1.8446744073709552e19, 0, VT_UI8);
    R8(4294967295.5, 0, VT_UI4);
    R8(4294967294.5, 0, VT_UI4);
    R8(3.4e38, 0, VT_R4);
    R8(3.5e38, 0, VT_R4);
    R8(1e-50, 0, VT_R4);
    R8(NAN, 0, VT_I4);
    R8(INFINITY, 0, VT_I4);
    R8(INFINITY, 0, VT_R4);
    R8(NAN, 0, VT_BOOL);
    R8(0.0, 0, VT_BOOL);
    R8(-0.0, 0, VT_BOOL);
    R8(0.1, 0, VT_BOOL);
  }

  /* Numbers as text. */
  {
    static const double t[] = {0.1,
                               1.5,
                               1e20,
                               1e15,
                               1e14,
                               123456789012345.0,
                               1234567890123456.0,
                               0.1 + 0.2,
                               1.0 / 3.0,
                               2.0 / 3.0,
                               -0.0,
                               1e-5,
                               0.0001,
                               1e-4 * 3,
                               123.456,
                               -123.456,
                               1e100,
                               1e-100,
                               5e-324,
                               1.7976931348623157e308,
                               100,
                               1e16,
                               12345678.9,
                               0.000123456789012345678,
                               999999999999999.9,
                               9999999999999999.0,
                               0.5,
                               -1,
                               1e21,
                               2.5e-7};
    for (i = 0; i < (int)(sizeof t / sizeof t[0]); i++) R8(t[i], 0, VT_BSTR);
    R8(INFINITY, 0, VT_BSTR);
    R8(-INFINITY, 0, VT_BSTR);
    R8(NAN, 0, VT_BSTR);
    R4(0.1f, VT_BSTR);
    R4(1.5f, VT_BSTR);
    R4(1e20f, VT_BSTR);
    R4(3.14159265f, VT_BSTR);
    R4(16777216.0f, VT_BSTR);
    R4(1234567.0f, VT_BSTR);
    R4(12345678.0f, VT_BSTR);
    R4(0.1f, VT_R8);
    I4(-2147483647 - 1, 0, VT_BSTR);
  }

  /* Text to numbers. */
  {
    static const wchar_t* s[] = {L"12",
                                 L" 12 ",
                                 L"\t12\t",
                                 L"1e3",
                                 L"1E3",
                                 L"1e+3",
                                 L"1e-3",
                                 L"1d3",
                                 L"1,234.5",
                                 L"1,2,3",
                                 L",12",
                                 L"12,",
                                 L"1,234,567",
                                 L"abc",
                                 L"",
                                 L" ",
                                 L"12abc",
                                 L"+12",
                                 L"-12",
                                 L"12-",
                                 L"12+",
                                 L"(12)",
                                 L"(12",
                                 L"- 12",
                                 L"--12",
                                 L"+-12",
                                 L"$12",
                                 L"-$12",
                                 L"$-12",
                                 L"12$",
                                 L".5",
                                 L"5.",
                                 L".",
                                 L"-.5",
                                 L"1.2.3",
                                 L"&H1F",
                                 L"&h1f",
                                 L"&HFFFF",
                                 L"&H7FFF",
                                 L"&HFFFFFFFF",
                                 L"&H80000000",
                                 L"&H",
                                 L"&O17",
                                 L"&o17",
                                 L"&17",
                                 L"&B101",
                                 L"0x1F",
                                 L"-&H1F",
                                 L" &H1F ",
                                 L"1e",
                                 L"1e+",
                                 L"e3",
                                 L"1e999",
                                 L"1e-400",
                                 L"32767",
                                 L"32767.5",
                                 L"32768",
                                 L"-32768",
                                 L"-32768.5",
                                 L"-32769",
                                 L"2.5",
                                 L"3.5",
                                 L"-2.5",
                                 L"2.51",
                                 L"2147483647.5",
                                 L"2147483648",
                                 L"-2147483648",
                                 L"-2147483649",
                                 L"1.5E1",
                                 L"12.5e-1",
                                 L"00012",
                                 L"0",
                                 L"-0",
                                 L"1 000",
                                 L"12 34",
                                 L"1,234.567,8",
                                 L"12.",
                                 L"1\x00a0"
                                 L"2",
                                 L"\x00a0"
                                 L"12",
                                 L"12\r\n",
                                 L"\n12",
                                 L"12e3e4",
                                 L"True",
                                 L"true",
                                 L"FALSE",
                                 L"Yes",
                                 L"#TRUE#",
                                 L" True",
                                 L"True ",
                                 L"On",
                                 L"\x0661\x0662",
                                 L"１２",
                                 L"12345678901234567890",
                                 L"123456789012345678901234567890",
                                 L"0.000000000000000000001",
                                 L"255",
                                 L"256",
                                 L"-1",
                                 L"4294967295",
                                 L"4294967296",
                                 L"9223372036854775807",
                                 L"9223372036854775808",
                                 L"18446744073709551615",
                                 L"18446744073709551616"};
    static const VARTYPE targets[] = {VT_I2,  VT_I4, VT_R8,  VT_R4, VT_BOOL, VT_UI1,
                                      VT_UI4, VT_I8, VT_UI8, VT_CY, VT_DATE};
    int j;
    for (i = 0; i < (int)(sizeof s / sizeof s[0]); i++)
      for (j = 0; j < (int)(sizeof targets / sizeof targets[0]); j++) Str(s[i], 0, targets[j]);
  }

  /* Dates. */
  {
    static const double d[] = {0.0,
                               1.0,
                               46361.0,
                               46361.5625,
                               46361.999999,
                               46361.9999999,
                               0.5625,
                               0.25,
                               2.0,
                               -1.0,
                               -1.25,
                               -0.5,
                               36526.0,
                               46361.0 + 1.0 / 86400.0,
                               46361.0 + 0.5 / 86400.0,
                               46361.0 + 1.5 / 86400.0,
                               -657434.0,
                               -657435.0,
                               2958465.0,
                               2958465.9999,
                               2958466.0,
                               3000000.0,
                               45291.0001};
    for (i = 0; i < (int)(sizeof d / sizeof d[0]); i++) {
      Date(d[i], VT_BSTR);
    }
    Date(46361.5625, VT_R8);
    Date(46361.5, VT_I4);
    Date(2.5, VT_I4);
    Date(46361.5625, VT_BOOL);
    R8(46361.5625, 0, VT_DATE);
    R8(-657434.0, 0, VT_DATE);
    R8(-657434.9, 0, VT_DATE);
    R8(-657435.0, 0, VT_DATE);
    R8(2958465.9, 0, VT_DATE);
    R8(2958466.0, 0, VT_DATE);
    I2(-1, VT_DATE);
  }
  {
    static const wchar_t* s[] = {L"2026-12-05",
                                 L"12/5/2026",
                                 L"12/5/2026 1:30:00 PM",
                                 L"12/5/2026 13:30",
                                 L"1:30:00 PM",
                                 L"1:30 PM",
                                 L"13:30",
                                 L"13:30:15",
                                 L"1:30:00 pm",
                                 L"1 PM",
                                 L"12:00 AM",
                                 L"12:00 PM",
                                 L"0:00",
                                 L"24:00",
                                 L"25:00",
                                 L"12:60",
                                 L"2026-12-05 13:30:00",
                                 L"2026-12-05T13:30:00",
                                 L"5.12.2026",
                                 L"12-5-2026",
                                 L"13/5/2026",
                                 L"5/13/2026",
                                 L"2/30/2026",
                                 L"2/29/2024",
                                 L"2/29/2023",
                                 L"Dec 5, 2026",
                                 L"December 5, 2026",
                                 L"5 December 2026",
                                 L"5-Dec-2026",
                                 L"Saturday, December 05, 2026",
                                 L"12/5/26",
                                 L"12/5/99",
                                 L"12/5/29",
                                 L"12/5/30",
                                 L"1/1/100",
                                 L"1/1/99",
                                 L"12/31/9999",
                                 L"1/1/10000",
                                 L"2026/12/05",
                                 L"  12/5/2026  ",
                                 L"12 / 5 / 2026",
                                 L"12/5/2026 1:30:00",
                                 L"12/5/2026 1:30:00 XM",
                                 L"abc",
                                 L"",
                                 L"12",
                                 L"45000",
                                 L"45000.5",
                                 L"12/5/2026 12:30:45.5",
                                 L"1899-12-30",
                                 L"1899-12-29 06:00",
                                 L"12:30:45.5",
                                 L"1:30:00 AM",
                                 L"12/5/2026 1:30:00AM",
                                 L"2026-13-01",
                                 L"2026-12-32",
                                 L"5 Dec",
                                 L"Dec 2026",
                                 L"2026-12",
                                 L"12/5",
                                 L"1.5",
                                 L"1e3"};
    for (i = 0; i < (int)(sizeof s / sizeof s[0]); i++) Str(s[i], 0, VT_DATE);
  }

  /* Booleans to and from text. */
  Str(L"True", 0, VT_BOOL);
  Str(L"tRuE", 0, VT_BOOL);
  Str(L"False", 0, VT_BOOL);
  Str(L"0", 0, VT_BOOL);
  Str(L"0.0", 0, VT_BOOL);
  Str(L"-1", 0, VT_BOOL);
  Str(L"2", 0, VT_BOOL);
  Str(L"0.1", 0, VT_BOOL);
  Str(L"True", VARIANT_ALPHABOOL, VT_BOOL);
  Str(L"Yes", VARIANT_LOCALBOOL, VT_BOOL);

  /* Objects. */
  {
    Obj o = {&obj_vtbl, 1, 1, S_OK, {0}};
    Obj u = {&obj_vtbl, 1, 0, S_OK, {0}};
    Obj f = {&obj_vtbl, 1, 1, E_FAIL, {0}};
    VARIANT v;
    V_VT(&o.value) = VT_I4;
    V_I4(&o.value) = 42;
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = (IDispatch*)&o;
    Row("DISPATCH value I4 42", &v, 0, VT_I4);
    Row("DISPATCH value I4 42", &v, 0, VT_BSTR);
    Row("DISPATCH value I4 42", &v, 0, VT_BOOL);
    Row("DISPATCH value I4 42", &v, 0, VT_R8);
    Row("DISPATCH value I4 42", &v, 0, VT_EMPTY);
    Row("DISPATCH value I4 42", &v, 0, VT_NULL);
    Row("DISPATCH value I4 42", &v, 0, VT_UNKNOWN);
    Row("DISPATCH value I4 42", &v, 0, VT_ERROR);
    Row("DISPATCH value I4 42", &v, VARIANT_NOVALUEPROP, VT_I4);
    Row("DISPATCH value I4 42", &v, VARIANT_NOVALUEPROP, VT_UNKNOWN);
    Row("DISPATCH value I4 42", &v, VARIANT_NOVALUEPROP, VT_EMPTY);
    Row("DISPATCH value I4 42", &v, VARIANT_NOVALUEPROP, VT_BSTR);
    Row("DISPATCH value I4 42", &v, VARIANT_NOVALUEPROP, VT_DISPATCH);
    V_VT(&o.value) = VT_BSTR;
    V_BSTR(&o.value) = SysAllocString(L"abc");
    Row("DISPATCH value BSTR abc", &v, 0, VT_I4);
    Row("DISPATCH value BSTR abc", &v, 0, VT_BSTR);
    VariantClear(&o.value);
    V_VT(&o.value) = VT_NULL;
    Row("DISPATCH value NULL", &v, 0, VT_I4);
    Row("DISPATCH value NULL", &v, 0, VT_BSTR);
    V_VT(&o.value) = VT_EMPTY;
    Row("DISPATCH value EMPTY", &v, 0, VT_I4);
    V_DISPATCH(&v) = (IDispatch*)&f;
    Row("DISPATCH invoke E_FAIL", &v, 0, VT_I4);
    Row("DISPATCH invoke E_FAIL", &v, 0, VT_BSTR);
    f.invoke_hr = DISP_E_MEMBERNOTFOUND;
    Row("DISPATCH invoke MEMBERNOTFOUND", &v, 0, VT_I4);
    V_DISPATCH(&v) = NULL;
    Row("DISPATCH null", &v, 0, VT_I4);
    Row("DISPATCH null", &v, 0, VT_BSTR);
    Row("DISPATCH null", &v, 0, VT_UNKNOWN);
    Row("DISPATCH null", &v, 0, VT_EMPTY);
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = (IUnknown*)&u;
    Row("UNKNOWN without IDispatch", &v, 0, VT_DISPATCH);
    Row("UNKNOWN without IDispatch", &v, 0, VT_I4);
    Row("UNKNOWN without IDispatch", &v, 0, VT_BSTR);
    Row("UNKNOWN without IDispatch", &v, 0, VT_EMPTY);
    V_UNKNOWN(&v) = (IUnknown*)&o;
    Row("UNKNOWN with IDispatch", &v, 0, VT_DISPATCH);
    V_UNKNOWN(&v) = NULL;
    Row("UNKNOWN null", &v, 0, VT_DISPATCH);
    printf("refs o=%ld u=%ld f=%ld\n", o.refs, u.refs, f.refs);
  }

  /* By reference. */
  {
    LONG l = 7;
    VARIANT inner, v;
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = &l;
    Row("I4 BYREF 7", &v, 0, VT_BSTR);
    Row("I4 BYREF 7", &v, 0, VT_I4);
    V_I4REF(&v) = NULL;
    Row("I4 BYREF null", &v, 0, VT_BSTR);
    V_VT(&inner) = VT_R8;
    V_R8(&inner) = 2.5;
    V_VT(&v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&v) = &inner;
    Row("VARIANT BYREF R8 2.5", &v, 0, VT_I4);
    V_VT(&v) = VT_EMPTY | VT_BYREF;
    Row("EMPTY BYREF", &v, 0, VT_I4);
    V_VT(&v) = 15;
    Row("vt15", &v, 0, VT_I4);
  }
  return 0;
}
