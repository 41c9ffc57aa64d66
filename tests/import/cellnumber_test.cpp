// Numbers read back from property cells: every form the host's unit formatting writes reads back
// to the value it was made from, and what is not a number is refused with a reason, never read
// as a part of itself.
#include "import/cellnumber.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "platform/com/bstr.h"
#include "platform/com/variant.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct DistanceCase {
  const wchar_t* text;
  bool ok;
  double value;
};

TEST(ParseDistance, ReadsEveryLinearFormAndRefusesPartialNumbers) {
  const DistanceCase cases[] = {
      {L"12.5", true, 12.5},       {L"  -12.5 ", true, -12.5}, {L"+3", true, 3},
      {L"1.2500E+01", true, 12.5}, {L"1e3", true, 1000},       {L".5", true, 0.5},
      {L"17 1/2", true, 17.5},     {L"17-1/2", true, 17.5},    {L"-17 1/2", true, -17.5},
      {L"3/8", true, 0.375},       {L"1'-5.50\"", true, 17.5}, {L"1'-5 1/2\"", true, 17.5},
      {L"1'5-1/2\"", true, 17.5},  {L"1'5.5\"", true, 17.5},   {L"1' 5\"", true, 17},
      {L"-1'-5\"", true, -17},     {L"2'", true, 24},          {L"7 3/4\"", true, 7.75},
      {L"1/2\"", true, 0.5},       {L"0'-0\"", true, 0},       {L"12abc", false, 0},
      {L"12,5", false, 0},         {L"abc", false, 0},         {L"", false, 0},
      {L"1/0", false, 0},          {L"1.5/2", false, 0},       {L"12 5", false, 0},
      {L"1'-", false, 0},          {L"5\" 1'", false, 0},      {L"'", false, 0},
      {L"nan", false, 0},          {L"inf", false, 0},         {L"1e999", false, 0},
      {L"0x10", false, 0},         {L"--1", false, 0},
  };
  for (const DistanceCase& c : cases) {
    double value = -99;
    EXPECT_EQ(ParseDistance(c.text, &value), c.ok)
        << std::wstring(c.text).size() << " " << std::string(c.text, c.text + wcslen(c.text));
    if (c.ok) {
      EXPECT_DOUBLE_EQ(value, c.value) << std::string(c.text, c.text + wcslen(c.text));
    } else {
      EXPECT_EQ(value, -99) << "untouched on failure";
    }
  }
}

TEST(ParseDistance, ReadsBackWhatTheHostWritesInEveryLinearUnit) {
  const double values[] = {0, 17.5, -17.5, 147.5, 0.375, 1234.0625, -0.5, 100000.25};
  for (int lunits = 1; lunits <= 5; ++lunits) {
    for (int unitmode = 0; unitmode <= 1; ++unitmode) {
      UnitSettings units;
      units.lunits = lunits;
      units.unitmode = unitmode;
      units.luprec = 4;
      for (double v : values) {
        const UnitText text = FormatDistance(v, -1, -1, units);
        ASSERT_EQ(text.status, RTNORM);
        double read = 0;
        const std::string shown(text.text.begin(), text.text.end());
        ASSERT_TRUE(ParseDistance(text.text, &read)) << shown << " lunits " << lunits;
        // Precision 4: 1/16 for the fractional units, 4 decimals for the others.
        EXPECT_NEAR(read, v, lunits >= 4 ? 1.0 / 32 : 1e-4 * std::max(1.0, std::fabs(v)))
            << shown << " lunits " << lunits;
      }
    }
  }
}

VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

VARIANT Of(VARTYPE vt, double number) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  switch (vt) {
    case VT_R8:
    case VT_DATE:
      v.dblVal = number;
      break;
    case VT_R4:
      v.fltVal = static_cast<float>(number);
      break;
    case VT_I2:
      v.iVal = static_cast<SHORT>(number);
      break;
    case VT_I4:
      v.lVal = static_cast<LONG>(number);
      break;
    case VT_BOOL:
      v.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_ERROR:
      v.scode = static_cast<SCODE>(0x800A07FA);  // #N/A
      break;
    default:
      break;
  }
  return v;
}

struct CellCase {
  VARIANT value;
  NumberColumn column;
  int aunits;
  CellNumber::Kind kind;
  double expected;
  const char* what;
};

TEST(CellToNumber, TakesNumbersAndUnitTextsAndRefusesWhatIsNoNumber) {
  const CellCase cases[] = {
      {Of(VT_R8, 12.5), NumberColumn::kDistance, 0, CellNumber::kNumber, 12.5, "real"},
      {Of(VT_R4, 2.5), NumberColumn::kScale, 0, CellNumber::kNumber, 2.5, "float"},
      {Of(VT_I2, -7), NumberColumn::kDistance, 0, CellNumber::kNumber, -7, "short"},
      {Of(VT_I4, 40000), NumberColumn::kDistance, 0, CellNumber::kNumber, 40000, "long"},
      {Of(VT_EMPTY, 0), NumberColumn::kDistance, 0, CellNumber::kEmpty, 0, "empty"},
      {Of(VT_NULL, 0), NumberColumn::kAngle, 0, CellNumber::kEmpty, 0, "null"},
      {Text(L"   "), NumberColumn::kDistance, 0, CellNumber::kEmpty, 0, "blank text"},
      {Of(VT_DATE, 45000), NumberColumn::kDistance, 0, CellNumber::kInvalid, 0, "date"},
      {Of(VT_BOOL, 1), NumberColumn::kAngle, 0, CellNumber::kInvalid, 0, "logical"},
      {Of(VT_ERROR, 0), NumberColumn::kScale, 0, CellNumber::kInvalid, 0, "error"},
      {Text(L"12abc"), NumberColumn::kDistance, 0, CellNumber::kInvalid, 0, "partial number"},
      {Text(L"1'-6\""), NumberColumn::kDistance, 0, CellNumber::kNumber, 18, "feet-inches"},
      {Text(L"0"), NumberColumn::kScale, 0, CellNumber::kInvalid, 0, "scale 0"},
      {Of(VT_R8, 0), NumberColumn::kScale, 0, CellNumber::kInvalid, 0, "scale 0 number"},
      {Of(VT_R8, 0), NumberColumn::kDistance, 0, CellNumber::kNumber, 0, "distance 0"},
      // Rotations: numbers in the drawing's angular unit, texts as it writes them.
      {Of(VT_R8, 90), NumberColumn::kAngle, 0, CellNumber::kNumber, kPi / 2, "degrees"},
      {Text(L"90"), NumberColumn::kAngle, 0, CellNumber::kNumber, kPi / 2, "degree text"},
      {Of(VT_R8, 100), NumberColumn::kAngle, 2, CellNumber::kNumber, kPi / 2, "grads"},
      {Of(VT_R8, 1.5), NumberColumn::kAngle, 3, CellNumber::kNumber, 1.5, "radians"},
      {Text(L"45d30'0\""), NumberColumn::kAngle, 1, CellNumber::kNumber, 45.5 * kPi / 180,
       "degrees minutes seconds"},
      {Text(L"50g"), NumberColumn::kAngle, 2, CellNumber::kNumber, kPi / 4, "grad text"},
      {Text(L"1.5708r"), NumberColumn::kAngle, 3, CellNumber::kNumber, 1.5708, "radian text"},
      {Text(L"N 45d E"), NumberColumn::kAngle, 4, CellNumber::kNumber, kPi / 4, "bearing"},
      {Text(L"ninety"), NumberColumn::kAngle, 0, CellNumber::kInvalid, 0, "word"},
  };
  for (const CellCase& c : cases) {
    UnitSettings units;
    units.aunits = c.aunits;
    const CellNumber n = CellToNumber(c.value, c.column, units);
    EXPECT_EQ(n.kind, c.kind) << c.what;
    if (c.kind == CellNumber::kNumber) {
      EXPECT_NEAR(n.value, c.expected, 1e-9) << c.what;
    }
    if (c.kind == CellNumber::kInvalid) {
      EXPECT_FALSE(n.problem.empty()) << c.what;
    }
    VARIANT copy = c.value;
    VariantClear(&copy);
  }
}

}  // namespace
