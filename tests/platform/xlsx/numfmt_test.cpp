// Tests of number formats, typed input and display width. Where each expected value comes from:
//   kLo     observed in LibreOffice Calc 7.4 (libreoffice-calc-nogui), whose output agrees with
//           Excel for these: a workbook written by openpyxl and converted to CSV "as shown"
//           (tests/platform/xlsx/numfmt_reference.py libreoffice).
//   kExcel  Excel's documented behaviour (Microsoft's "Number format codes" and "Review
//           guidelines for customizing a number format" pages, ExcelTips on "negative zero"),
//           where LibreOffice differs from Excel (time rounding, dates before 3/1/1900, "-0").
//   kRule   a rule this code chose where Excel's behaviour is not written down; the rule is in
//           numfmt.h.
#include "platform/xlsx/numfmt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/xlsx/workbook.h"

namespace sheetwise::xlsx {
namespace {

enum Source { kLo, kExcel, kRule };

const char* SourceName(Source s) {
  return s == kLo ? "LibreOffice" : s == kExcel ? "Excel" : "rule";
}

struct FormatRow {
  double value;
  const char* code;
  const char* expected;
  Source source;
};

void CheckRows(const std::vector<FormatRow>& rows, bool date1904 = false) {
  for (const FormatRow& r : rows) {
    EXPECT_EQ(FormatNumber(r.value, r.code, date1904), r.expected)
        << "value " << r.value << " code [" << r.code << "] from " << SourceName(r.source);
  }
}

TEST(NumberFormat, GeneralShowsElevenCharactersAtMost) {
  CheckRows({
      {0, "General", "0", kExcel},
      {-0.0, "General", "0", kExcel},
      {-7, "", "-7", kExcel},
      {12345678901, "General", "12345678901", kExcel},
      {-12345678901, "General", "-12345678901", kRule},  // the sign is not counted
      {123456789012, "General", "1.23457E+11", kExcel},
      {1e15, "General", "1E+15", kExcel},
      {1.5e20, "General", "1.5E+20", kExcel},
      {1.0 / 3, "General", "0.333333333", kExcel},
      {3.14159265358979, "General", "3.141592654", kExcel},
      {12345.6789012345, "General", "12345.6789", kExcel},
      {0.1 + 0.2, "General", "0.3", kExcel},  // 15 significant digits first
      {0.00001, "General", "0.00001", kExcel},
      {0.000123456789, "General", "0.000123457", kRule},
      {0.0000123456789, "General", "1.23457E-05", kRule},
      {0.000000001, "General", "0.000000001", kRule},
      {1.23e-10, "General", "1.23E-10", kExcel},
      {99999999999.6, "General", "1E+11", kRule},
      {9999999999.6, "General", "10000000000", kRule},
      {1.7976931348623157e308, "General", "1.79769E+308", kRule},
      {2.2250738585072014e-308, "General", "2.22507E-308", kRule},
      {0.5, "GENERAL", "0.5", kExcel},
      {std::nan(""), "General", "#NUM!", kRule},
      {INFINITY, "0.00", "#NUM!", kRule},
  });
}

TEST(NumberFormat, ShowsNumbersAsLibreOfficeAndExcelDo) {
  CheckRows({
      {1234.5, "0.00", "1234.50", kLo},
      {2.675, "0.00", "2.68", kLo},
      {1.005, "0.00", "1.01", kLo},
      {2.5, "0", "3", kLo},
      {-2.5, "0", "-3", kLo},
      {1234567.891, "#,##0.00", "1,234,567.89", kLo},
      {-1234567.891, "#,##0.00", "-1,234,567.89", kLo},
      {0, "#,##0.00", "0.00", kLo},
      {0.5, "#.##", ".5", kLo},
      {12.5, ".00", "12.50", kLo},
      {1.5, "0.0#", "1.5", kLo},
      {1.25, "?.?\?", "1.25", kLo},
      {0.5, "?\?.?\?", "  .5 ", kLo},
      {123456789, "000-00-0000", "123-45-6789", kLo},
      {12, "000-00-0000", "000-00-0012", kLo},
      {1234567, "0.0,", "1234.6", kLo},
      {1234567, "0.0,,\"M\"", "1.2M", kLo},
      {12345.678, "#,##0.00,", "12.35", kLo},
      {0.1234, "0.0%", "12.3%", kLo},
      {-0.1234, "0.00%", "-12.34%", kLo},
      {123, "0.00E+00", "1.23E+02", kLo},
      {0.000123, "0.00E+00", "1.23E-04", kLo},
      {123000, "0.00E-00", "1.23E05", kLo},
      {0, "0.00E+00", "0.00E+00", kLo},
      {12345, "##0.0E+0", "12.3E+3", kLo},
      {0.00012345, "##0.0E+0", "123.5E-6", kLo},
      {12345, "00.00E+00", "01.23E+04", kLo},
      {1e100, "0.00E+00", "1.00E+100", kLo},
      {0.5, "# ?/?", " 1/2", kLo},
      {1.5, "# ?/?", "1 1/2", kLo},
      {2, "# ?/?", "2    ", kLo},
      {0, "?/?", "0/1", kLo},
      {3.14159, "# ?\?/?\?", "3 14/99", kLo},
      {0.3, "?/?", "2/7", kLo},
      {0.3, "?/8", "2/8", kLo},
      {0.99, "# ?/8", "1   ", kLo},
      {1.75, "?/?", "7/4", kLo},
      {0.333333333, "# ?\?\?/?\?\?", "   1/3  ", kLo},
      {1234.5, "[$€-407] #,##0.00", "€ 1,234.50", kLo},
      {1234.5, "#,##0.00 [$USD]", "1,234.50 USD", kLo},
      {-5, "[Red]0;[Blue]-0", "-5", kLo},
      {-5, "0;(0)", "(5)", kLo},
      {0, "0;-0;\"zero\"", "zero", kLo},
      {-5, "0;;0", "", kLo},
      {5, "0;-0;", "5", kLo},
      {1234.5, "\"$\"#,##0.00_);(\"$\"#,##0.00)", "$1,234.50 ", kLo},
      {-1234.5, "\"$\"#,##0.00_);(\"$\"#,##0.00)", "($1,234.50)", kLo},
      {1234.5, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)", " $1,234.50 ",
       kLo},
      {-1234.5, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)", " $(1,234.50)",
       kLo},
      {0, "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)", " $-   ", kLo},
      {0, "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)", " - ", kLo},
      {5, "General\" kg\"", "5 kg", kLo},
      {-5, "\"p\"General", "-p5", kLo},
      {5, "0.0.0", "5.0.0", kLo},
      {5, "0\\h", "5h", kLo},
      {5, "0 \"days\"", "5 days", kLo},
      {-7, "[<=-5]0;0", "-7", kLo},
      {-3, "[<=-5]0;0", "3", kLo},
      {-3, "[>100]0;0", "3", kLo},
      {150, "[>100]0;0", "150", kLo},
      {-5, "[<0]\"n\"0;0", "n5", kLo},
      {5, "[>100]0;0;\"z\"", "z", kLo},
      {-5, "[>100]0;0;\"z\"", "5", kLo},
      {1500000, "[>=1000000]0.0,,\"M\";[>=1000]0.0,\"K\";0", "1.5M", kLo},
      {1500, "[>=1000000]0.0,,\"M\";[>=1000]0.0,\"K\";0", "1.5K", kLo},
      {43831, "m/d/yyyy", "1/1/2020", kLo},
      {43831, "d-mmm-yy", "1-Jan-20", kLo},
      {43831, "mmmm d, yyyy", "January 1, 2020", kLo},
      {43831, "dddd, mmmm dd, yyyy", "Wednesday, January 01, 2020", kLo},
      {43831, "ddd d mmm yy", "Wed 1 Jan 20", kLo},
      {43831, "mmmmm", "J", kLo},
      {61, "m/d/yyyy", "3/1/1900", kLo},
      {2958465, "m/d/yyyy", "12/31/9999", kLo},
      {0.75, "h:mm AM/PM", "6:00 PM", kLo},
      {0.75, "hh:mm a/p", "06:00 p", kLo},
      {0, "h:mm AM/PM", "12:00 AM", kLo},
      {0.5, "h:mm AM/PM", "12:00 PM", kLo},
      {0.5208333333333334, "h:mm", "12:30", kLo},
      {0.5213541666666667, "h:mm:ss", "12:30:45", kLo},
      {1.0416666666666667, "[h]:mm:ss", "25:00:00", kLo},
      {1.0416666666666667, "[mm]:ss", "1500:00", kLo},
      {0.0625, "mm:ss", "30:00", kLo},
      {45000.5, "m/d/yyyy h:mm", "3/15/2023 12:00", kLo},
      {45000.123, "yyyy-mm-dd hh:mm:ss.000", "2023-03-15 02:57:07.200", kLo},
      {45000.0000121, "mm:ss.0", "00:01.0", kLo},
      {43831.75, "m/d h\"h\"", "1/1 18h", kLo},
      {-123.456, "##0.00E+00", "-123.46E+00", kLo},
      {99.995, "##0.00E+00", "100.00E+00", kLo},
      {0.045, "##0.00E+00", "45.00E-03", kLo},
      {-123.456, "# ?/4", "-123 2/4", kLo},
      {1234567.891, "# ?/4", "1234568   ", kLo},
      {0.001234, "0.0?", "0.0 ", kLo},
      {99.995, "0.0?", "100.0 ", kLo},
      {-123.456, "000.0", "-123.5", kLo},
      {0.001234, "+0;-0;0", "+0", kLo},
      {-123.456, "00000", "-00123", kLo},
      {99.995, "0.0E+0", "1.0E+2", kLo},
      {0.001234, "?.?", " . ", kLo},
      {99.995, "?.?", "100. ", kLo},
      {-123.456, "0,000", "-0,123", kLo},
      {1234567.891, "0,000", "1,234,568", kLo},
      {1234.0416666666667, "dddd", "Monday", kLo},
      {1234.0416666666667, "hh:mm:ss", "01:00:00", kLo},
      {1234.0416666666667, "h AM/PM", "1 AM", kLo},
      {36526.5, "[h]:mm", "876636:00", kLo},
      {1234.0416666666667, "[mm]", "1777020", kLo},
      {1234.0416666666667, "yyyy-mm-ddThh:mm:ss", "1903-05-18T01:00:00", kLo},
      {36526.5, "h\"h\"mm", "12h00", kLo},
      {1234.0416666666667, "dd.mm.yyyy", "18.05.1903", kLo},
      {36526.5, "m", "1", kLo},
      {1234.0416666666667, "mm", "05", kLo},
      {36526.5, "h:m", "12:0", kLo},
  });
}

TEST(NumberFormat, FollowsExcelWhereLibreOfficeDiffers) {
  CheckRows({
      // The decimal point shows even without decimals (LibreOffice drops it).
      {1, "#.#", "1.", kExcel},
      {0, "#,###.##", ".", kExcel},
      {0.5, "#0.##%", "50.%", kExcel},
      // The sign follows the value, not its rounding (ExcelTips "Getting rid of negative zero").
      {-0.3, "0", "-0", kExcel},
      {-0.001, "0.00", "-0.00", kExcel},
      // Excel rounds times to the shown precision; LibreOffice cuts them.
      {0.99999999, "h:mm:ss", "0:00:00", kExcel},
      {0.99999999, "m/d/yyyy h:mm:ss", "1/1/1900 0:00:00", kExcel},
      {0.5208333333, "h:mm AM/PM", "12:30 PM", kExcel},
      {0.000011574, "mm:ss.0", "00:01.0", kExcel},
      {0.5 + 0.4 / 86400, "h:mm:ss", "12:00:00", kExcel},
      {0.5 + 0.6 / 86400, "h:mm:ss", "12:00:01", kExcel},
      {0.5 + 0.55 / 86400, "h:mm:ss.0", "12:00:00.6", kExcel},
      {0.5 + 59.7 / 86400, "h:mm", "12:01", kExcel},  // seconds round, then minutes are cut
      // Excel's 1900 calendar: serial 0 is 1/0/1900 and 60 is the fictitious 2/29/1900.
      {0, "m/d/yyyy", "1/0/1900", kExcel},
      {1, "m/d/yyyy", "1/1/1900", kExcel},
      {59, "m/d/yyyy", "2/28/1900", kExcel},
      {60, "m/d/yyyy", "2/29/1900", kExcel},
      {1, "dddd", "Sunday", kExcel},
      {0, "ddd", "Sat", kExcel},
      {0.25, "h:mm A/P", "6:00 A", kExcel},
      // Out of Excel's dates: the cell fills with '#'.
      {-1, "m/d/yyyy", "########", kRule},
      {2958466, "m/d/yyyy", "########", kRule},
      {2958465.99999999, "m/d/yyyy h:mm:ss", "########", kRule},  // rounds past 12/31/9999
      {-0.5, "[h]:mm", "########", kRule},
      // One section: a negative number gets "-" even without digit placeholders.
      {-5, "\"x\"", "-x", kRule},
      // A third section shows the sign (LibreOffice leaves it out).
      {-5000, "[>=1000000]0,,\"M\";[>=1000]0,\"K\";0;@", "-5000", kRule},
      {-5, "[>100]0;[<-100]0;\"other \"0", "-other 5", kRule},
      // One conditional section that the value does not meet.
      {5, "[>100]0", "########", kRule},
      // Fill shows nothing; "_x" one space.
      {5, "*-0", "5", kRule},
      {5, "0_)", "5 ", kExcel},
  });
}

TEST(NumberFormat, DatesInThe1904System) {
  CheckRows(
      {
          {0, "m/d/yyyy", "1/1/1904", kExcel},
          {0, "dddd", "Friday", kExcel},
          {1, "d-mmm-yy", "2-Jan-04", kExcel},
          {42369, "m/d/yyyy", "1/1/2020", kExcel},  // 43831 - 1462
          {2957003, "m/d/yyyy", "12/31/9999", kExcel},
          {2957004, "m/d/yyyy", "########", kRule},
          {-1.5, "[h]:mm", "-36:00", kRule},
          {0.5, "h:mm", "12:00", kExcel},
      },
      true);
}

TEST(NumberFormat, BuiltinFormatsShowAsExcel) {
  struct Row {
    unsigned id;
    double value;
    const char* expected;
  };
  // Excel's shown texts for its built-in formats (Format Cells samples, en-US).
  const std::vector<Row> rows = {
      {0, 1234.5, "1234.5"},         {1, 1234.5, "1235"},       {2, 1234.5, "1234.50"},
      {3, 1234.5, "1,235"},          {4, -1234.5, "-1,234.50"}, {5, -1234, "($1,234)"},
      {7, 1234.5, "$1,234.50 "},     {9, 0.125, "13%"},         {10, 0.125, "12.50%"},
      {11, 1234.5, "1.23E+03"},      {12, 1.25, "1 1/4"},       {13, 1.3, "1  3/10"},
      {14, 43831, "1/1/2020"},       {15, 43831, "1-Jan-20"},   {16, 43831, "1-Jan"},
      {17, 43831, "Jan-20"},         {18, 0.5625, "1:30 PM"},   {19, 0.5625, "1:30:00 PM"},
      {20, 0.5625, "13:30"},         {21, 0.5625, "13:30:00"},  {22, 43831.5625, "1/1/2020 13:30"},
      {37, -1234, "(1,234)"},        {39, 1234.5, "1,234.50 "}, {41, 0, " - "},
      {44, -1234.5, " $(1,234.50)"}, {45, 0.0625, "30:00"},     {46, 1.0625, "25:30:00"},
      {47, 0.0625, "30:00.0"},       {48, 12345, "12.3E+3"},    {49, 12345, "12345"},
  };
  for (const Row& r : rows) {
    std::string_view code = BuiltinNumberFormat(r.id);
    EXPECT_EQ(FormatNumber(r.value, code), r.expected) << "id " << r.id << " [" << code << "]";
  }
}

TEST(NumberFormat, TextSections) {
  struct Row {
    const char* text;
    const char* code;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {"abc", "@", "abc"},                    // Excel
      {"abc", "0.00", "abc"},                 // LibreOffice: no text section
      {"abc", "0;0;0;\"t\"@\"t\"", "tabct"},  // LibreOffice
      {"abc", "0;@\"!\"", "abc!"},            // LibreOffice
      {"abc", "\"a\"@", "aabc"},              // LibreOffice
      {"abc", "0;0;0;", ""},                  // Excel: an empty fourth section hides text
      {"abc", "0;0;0;\"none\"", "none"},      // Excel
      {"abc", BuiltinNumberFormat(44).data(), " abc "},  // Excel's accounting "_(@_)"
      {"", "@", ""},
      {"x", "General", "x"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(FormatText(r.text, r.code), r.expected) << "[" << r.code << "]";
  EXPECT_EQ(FormatNumber(5, "\"a\"@"), "5");  // a number under a text-only code is General
  EXPECT_EQ(FormatNumber(5, "0;@"), "5");
}

TEST(NumberFormat, ClassifiesDateAndTextCodes) {
  struct Row {
    const char* code;
    bool date;
    bool text;
  };
  const std::vector<Row> rows = {
      {"General", false, false},    {"m/d/yyyy", true, false},   {"[h]:mm:ss", true, false},
      {"[ss]", true, false},        {"h:mm AM/PM", true, false}, {"0.00", false, false},
      {"\"day\"0", false, false},   // quoted letters are text
      {"0\\d", false, false},       // escaped letters too
      {"[Red]0.00", false, false},  // colors are not dates
      {"[$-409]0", false, false},   {"0.00E+00", false, false},  {"@", false, true},
      {"\"Name: \"@", false, true}, {"0;@", false, false},       {"0;0;0;@", false, false},
      {"yyyy;@", true, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(IsDateTimeFormat(r.code), r.date) << r.code;
    EXPECT_EQ(IsTextFormat(r.code), r.text) << r.code;
  }
}

TEST(DateToSerial, CountsAsExcelDoes) {
  struct Row {
    int y, m, d;
    bool date1904;
    double serial;  // -1: nullopt
  };
  const std::vector<Row> rows = {
      {1900, 1, 1, false, 1},      {1900, 2, 28, false, 59},    {1900, 2, 29, false, 60},
      {1900, 3, 1, false, 61},     {2020, 1, 1, false, 43831},  {9999, 12, 31, false, 2958465},
      {1899, 12, 31, false, -1},   {10000, 1, 1, false, -1},    {2021, 2, 29, false, -1},
      {2020, 2, 29, false, 43890}, {2020, 13, 1, false, -1},    {2020, 4, 31, false, -1},
      {1904, 1, 1, true, 0},       {2020, 1, 1, true, 42369},   {1903, 12, 31, true, -1},
      {1900, 2, 29, true, -1},     {2000, 2, 29, false, 36585}, {1900, 1, 0, false, -1},
  };
  for (const Row& r : rows) {
    std::optional<double> s = DateToSerial(r.y, r.m, r.d, r.date1904);
    if (r.serial < 0) {
      EXPECT_FALSE(s) << r.y << "-" << r.m << "-" << r.d;
    } else {
      ASSERT_TRUE(s) << r.y << "-" << r.m << "-" << r.d;
      EXPECT_EQ(*s, r.serial) << r.y << "-" << r.m << "-" << r.d;
      std::optional<CalendarDate> back = SerialToDate(*s + 0.75, r.date1904);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->year * 10000 + back->month * 100 + back->day, r.y * 10000 + r.m * 100 + r.d);
    }
  }
}

struct TypedRow {
  const char* input;
  TypedValue::Kind kind;
  double number;
  const char* text_or_format;  // text for kText/kError/kFormula, format for kNumber
};

constexpr auto kText = TypedValue::Kind::kText;
constexpr auto kNumber = TypedValue::Kind::kNumber;

TEST(ParseTypedInput, ConvertsAsExcelDoesOnAGeneralCell) {
  // Excel en-US typed input; current year 2024 for dates without one. The values (not the
  // formats, which are LibreOffice's own) agree with LibreOffice's input recognition (CSV import
  // with "detect special numbers", en-US) for every input both accept; it also keeps "(-5)",
  // "13/1/2020", "2/29/2021" and "12:60" as text. LibreOffice keeps as text, where Excel does
  // not: "1/32" (Excel: January 1932), "1-2-2020", "2-Jan", "#N/A".
  const double jan2 = *DateToSerial(2024, 1, 2, false);
  const double jan2_2020 = *DateToSerial(2020, 1, 2, false);
  const std::vector<TypedRow> rows = {
      {"", TypedValue::Kind::kEmpty, 0, ""},
      {"'007", kText, 0, "007"},
      {"'", kText, 0, ""},
      {"=A1+1", TypedValue::Kind::kFormula, 0, "A1+1"},
      {"=", kText, 0, "="},
      {"007", kNumber, 7, ""},
      {" 42 ", kNumber, 42, ""},
      {"(5)", kNumber, -5, ""},
      {"(-5)", kText, 0, "(-5)"},
      {"1.5", kNumber, 1.5, ""},
      {".5", kNumber, 0.5, ""},
      {"1,234", kNumber, 1234, "#,##0"},
      {"1,234,567.5", kNumber, 1234567.5, "#,##0.00"},
      {"1,23", kText, 0, "1,23"},
      {",123", kText, 0, ",123"},
      {"1234,567", kText, 0, "1234,567"},
      {"1e3", kNumber, 1000, "0.00E+00"},
      {"1.5E-3", kNumber, 0.0015, "0.00E+00"},
      {"1e400", kText, 0, "1e400"},
      {"50%", kNumber, 0.5, "0%"},
      {"1.5%", kNumber, 0.015, "0.00%"},
      {"$1,234.50", kNumber, 1234.5, "\"$\"#,##0.00"},
      {"-$5", kNumber, -5, "\"$\"#,##0"},
      {"($5.25)", kNumber, -5.25, "\"$\"#,##0.00"},
      {"$5%", kText, 0, "$5%"},
      {"1 1/2", kNumber, 1.5, "# ?/?"},
      {"-1 1/4", kNumber, -1.25, "# ?/?"},
      {"2 3/16", kNumber, 2.1875, "# ?\?/?\?"},
      {"1 1/0", kText, 0, "1 1/0"},
      {"TRUE", TypedValue::Kind::kBool, 1, ""},
      {" True ", TypedValue::Kind::kBool, 1, ""},
      {"#n/a", TypedValue::Kind::kError, 0, "#N/A"},
      {"#DIV/0!", TypedValue::Kind::kError, 0, "#DIV/0!"},
      {"#name?", TypedValue::Kind::kError, 0, "#NAME?"},
      {"#NOPE", kText, 0, "#NOPE"},
      {"1/2", kNumber, jan2, "d-mmm"},
      {"1/2/2020", kNumber, jan2_2020, "m/d/yyyy"},
      {"1/2/20", kNumber, jan2_2020, "m/d/yyyy"},
      {"1-2-2020", kNumber, jan2_2020, "m/d/yyyy"},
      {"2020-01-02", kNumber, jan2_2020, "m/d/yyyy"},
      {"2020/1/2", kNumber, jan2_2020, "m/d/yyyy"},
      {"1/2/29", kNumber, *DateToSerial(2029, 1, 2, false), "m/d/yyyy"},
      {"1/2/30", kNumber, *DateToSerial(1930, 1, 2, false), "m/d/yyyy"},
      {"Jan 2", kNumber, jan2, "d-mmm"},
      {"2-Jan", kNumber, jan2, "d-mmm"},
      {"2-Jan-2020", kNumber, jan2_2020, "d-mmm-yy"},
      {"January 2, 2020", kNumber, jan2_2020, "d-mmm-yy"},
      {"Jan-2020", kNumber, *DateToSerial(2020, 1, 1, false), "mmm-yy"},
      {"1/32", kNumber, *DateToSerial(1932, 1, 1, false), "mmm-yy"},
      {"Sept 5", kNumber, *DateToSerial(2024, 9, 5, false), "d-mmm"},
      {"13/1/2020", kText, 0, "13/1/2020"},
      {"2/29/2021", kText, 0, "2/29/2021"},
      {"1/1/1899", kText, 0, "1/1/1899"},
      {"Foo 2", kText, 0, "Foo 2"},
      {"1/2/3/4", kText, 0, "1/2/3/4"},
      {"1/2-2020", kText, 0, "1/2-2020"},
      {"12:30", kNumber, 0.5208333333333334, "h:mm"},
      {"12:30:45", kNumber, 0.5213541666666667, "h:mm:ss"},
      {"1:30 PM", kNumber, 0.5625, "h:mm AM/PM"},
      {"12:15 AM", kNumber, 0.010416666666666666, "h:mm AM/PM"},
      {"1:30:15 am", kNumber, (1 * 3600 + 30 * 60 + 15) / 86400.0, "h:mm:ss AM/PM"},
      {"3 PM", kNumber, 0.625, "h:mm AM/PM"},
      {"25:00", kNumber, 1.0416666666666667, "[h]:mm:ss"},
      {"1:30.5", kNumber, 90.5 / 86400, "mm:ss.0"},
      {"12:60", kText, 0, "12:60"},
      {"13:00 PM", kText, 0, "13:00 PM"},
      {"1/2/2020 12:30", kNumber, jan2_2020 + 0.5208333333333334, "m/d/yyyy h:mm"},
      {"2020-01-02 1:30 PM", kNumber, jan2_2020 + 0.5625, "m/d/yyyy h:mm"},
      {"hello", kText, 0, "hello"},
      {"   ", kText, 0, "   "},
      {"12abc", kText, 0, "12abc"},
      {"1 2", kText, 0, "1 2"},
      {"--5", kText, 0, "--5"},
      {"5-", kText, 0, "5-"},
      {".", kText, 0, "."},
  };
  for (const TypedRow& r : rows) {
    TypedValue v = ParseTypedInput(r.input, false, 2024);
    EXPECT_EQ(v.kind, r.kind) << "[" << r.input << "]";
    if (r.kind == kNumber || r.kind == TypedValue::Kind::kBool) {
      EXPECT_NEAR(v.number, r.number, 1e-9 * std::max(1.0, std::fabs(r.number)))
          << "[" << r.input << "]";
      EXPECT_EQ(v.format, r.text_or_format) << "[" << r.input << "]";
    } else if (r.kind != TypedValue::Kind::kEmpty) {
      EXPECT_EQ(v.text, r.text_or_format) << "[" << r.input << "]";
      EXPECT_EQ(v.format, "") << "[" << r.input << "]";
    }
  }
}

TEST(ParseTypedInput, DatesFollowTheWorkbooksDateSystem) {
  TypedValue v = ParseTypedInput("1/2/2020", true, 2024);
  EXPECT_EQ(v.kind, kNumber);
  EXPECT_EQ(v.number, 42369 + 1);
  EXPECT_EQ(ParseTypedInput("1/2/1903", true, 2024).kind, kText);  // before the 1904 system
  EXPECT_EQ(ParseTypedInput("1/2/1903", false, 2024).kind, kNumber);
}

TEST(ParseTypedInput, ShownTextOfTheStoredValueIsWhatWasTyped) {
  // Typed input followed by the format Excel gives the cell shows the same text again (apart
  // from leading zeros and the year Excel fills in or abbreviates).
  const std::vector<std::pair<const char*, const char*>> rows = {
      {"1,234", "1,234"},
      {"1,234,567.50", "1,234,567.50"},
      {"50%", "50%"},
      {"$1,234.50", "$1,234.50"},
      {"1e3", "1.00E+03"},
      {"1 1/2", "1 1/2"},
      {"2 3/16", "2  3/16"},
      {"1/2", "2-Jan"},
      {"1/2/2020", "1/2/2020"},
      {"2-Jan-2020", "2-Jan-20"},
      {"Jan-2020", "Jan-20"},
      {"12:30", "12:30"},
      {"1:30 PM", "1:30 PM"},
      {"25:00", "25:00:00"},
      {"1/2/2020 12:30", "1/2/2020 12:30"},
      {"3.14159", "3.14159"},
  };
  for (const auto& [typed, shown] : rows) {
    for (bool date1904 : {false, true}) {
      TypedValue v = ParseTypedInput(typed, date1904, 2024);
      ASSERT_EQ(v.kind, kNumber) << typed;
      EXPECT_EQ(FormatNumber(v.number, v.format, date1904), shown)
          << typed << " with [" << v.format << "]" << (date1904 ? " (1904)" : "");
    }
  }
}

TEST(DisplayWidth, CountsCharacterCells) {
  struct Row {
    const char* text;
    std::size_t width;
  };
  const std::vector<Row> rows = {
      {"", 0},
      {"1,234.50", 8},
      {"Grüße", 5},  // precomposed ü
      {"Gru\xCC\x88\xC3\x9F"
       "e",
       5},  // u + combining diaeresis
      {"日本語", 6},
      {"ｶﾀｶﾅ", 4},  // halfwidth katakana
      {"ＡＢ", 4},  // fullwidth Latin
      {"a\xE2\x80\x8B"
       "b",
       2},  // zero-width space
      {"\xEF\xBB\xBF"
       "x",
       1},                      // byte order mark
      {"\xF0\x9F\x98\x80", 2},  // emoji
      {"line one\nlonger line two\nx", 15},
      {"a\r\nbb", 2},
      {"tab\there", 7},
      {"\xFF\xFE", 2},  // invalid bytes: one cell each
      {"\xE6\x97", 2},  // truncated sequence
  };
  for (const Row& r : rows) EXPECT_EQ(DisplayWidth(r.text), r.width) << "[" << r.text << "]";
}

TEST(NumberFormat, MalformedCodesNeverCrashOrHang) {
  std::vector<std::string> codes = {
      "[",
      "]",
      "\"",
      "\\",
      "_",
      "*",
      "[$",
      "[>",
      "[=abc]0",
      "[Red",
      "0.0.0",
      "0,,,,,,,,",
      "E+",
      "0E+",
      "E+0",
      "0E+E+0",
      "/",
      "?/",
      "/?",
      "?\?/?\?/?\?",
      "0/0",
      "# ?/0",
      "?/999999999999",
      "?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?/?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?\?",
      ";",
      ";;;;;;;",
      "@@@",
      "[h",
      "[mmm]:ss",
      "s.",
      "ss.0000000",
      ".",
      ",",
      "0.",
      "General;General",
      "AM/PM",
      "A/P",
      "a/",
      "yyyyyyyyyyyyyyyyyyyy",
      "mmmmmmmmm",
      "\xFF\xFE",
      "0\xE2\x82",
      "\"\xE2\x82",
      "[$\xE2\x82\xAC-407]0",
      "0\\",
      "0_",
      "[>1e400]0",
      "[<-1e400]0;0",
      "[=nan]0"};
  codes.push_back(std::string(280, '%') + "0");
  codes.push_back(std::string(100000, '0'));
  codes.push_back("0" + std::string(100000, ','));
  codes.push_back("#" + std::string(50000, ',') + "0" + std::string(50000, ','));
  codes.push_back(std::string(50000, '/') + "0");
  codes.push_back("?/" + std::string(50000, '1'));
  codes.push_back("h" + std::string(50000, 'm') + "s");
  codes.push_back(std::string(50000, '#') + "." + std::string(50000, '0'));
  codes.push_back("0." + std::string(1000, '#') + "E+" + std::string(1000, '0'));
  std::string many;
  for (int i = 0; i < 300; ++i) many += "0;";
  codes.push_back(many);
  std::string brackets;
  for (int i = 0; i < 1000; ++i) brackets += "[Red]";
  codes.push_back(brackets + "0");
  const double values[] = {0,      -0.0,   1,        -1,      0.5,          1e308,
                           -1e308, 1e-308, 43831.75, 2958466, std::nan(""), INFINITY};
  for (const std::string& code : codes) {
    for (double v : values) {
      (void)FormatNumber(v, code);
      (void)FormatNumber(v, code, true);
    }
    (void)FormatText("text", code);
    (void)IsDateTimeFormat(code);
    (void)IsTextFormat(code);
  }
  // Malformed codes still show what can be made of them.
  EXPECT_EQ(FormatNumber(5, "0\""), "5");
  EXPECT_EQ(FormatNumber(5, "0[Red"), "5");
  EXPECT_EQ(FormatNumber(5, "E+0"), "E+5");              // no mantissa: the "E+" is text
  EXPECT_EQ(FormatNumber(5, "0/E+0"), "5/E+0");          // the first "E+" has no mantissa either
  EXPECT_EQ(FormatNumber(123, "0/0.0E+0"), "0/1.2E+2");  // two integer placeholders
  EXPECT_EQ(FormatNumber(5, "0@"), "5");  // a text placeholder makes a text section: General
  EXPECT_EQ(FormatNumber(1, std::string(20, '0')), "00000000000000000001");
  EXPECT_EQ(FormatNumber(-5, ";;;"), "");
  EXPECT_EQ(FormatNumber(5, many), "5");
  EXPECT_EQ(FormatNumber(1e308, "0").size(), 309u);
  EXPECT_EQ(FormatNumber(1234567, "0" + std::string(1000, ',')), "0");  // scaled to nothing
  EXPECT_EQ(FormatNumber(1234567, "#,##0,"), "1,235");
  EXPECT_EQ(FormatNumber(0.5, "?/" + std::string(12, '?')), "1/2" + std::string(11, ' '));
  EXPECT_EQ(FormatNumber(0.5, "?/999999999999"), "500000000/999999999");  // fixed, 9 digits

  // Typed input of any shape is a value or a text.
  const std::vector<std::string> inputs = {std::string(100000, '9'),
                                           std::string(1000, '/'),
                                           std::string(1000, ':'),
                                           "1:" + std::string(1000, '5'),
                                           std::string(500, ' ') + "1",
                                           "99999999999:00",
                                           "1/2/" + std::string(50, '9'),
                                           "$(5)",
                                           "\xFF",
                                           "1\xC3\xA9",
                                           "::",
                                           "1::2",
                                           " : "};
  for (const std::string& in : inputs) {
    TypedValue v = ParseTypedInput(in, false, 2024);
    EXPECT_TRUE(v.kind == TypedValue::Kind::kText || v.kind == TypedValue::Kind::kNumber) << in;
    if (v.kind == TypedValue::Kind::kNumber) {
      EXPECT_TRUE(std::isfinite(v.number)) << in;
    }
  }
}

TEST(NumberFormat, CacheGivesTheSameParsedCode) {
  std::shared_ptr<const NumberFormat> a = NumberFormat::Get("0.00");
  std::shared_ptr<const NumberFormat> b = NumberFormat::Get(std::string("0.0") + "0");
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a->Format(2.675), "2.68");
  EXPECT_TRUE(NumberFormat::Get("m/d/yyyy")->IsDateTime());
  EXPECT_TRUE(NumberFormat::Get("General")->IsGeneral());
  // Alternating codes on one thread: the per-thread memo must not mix them up.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(FormatNumber(0.5, "0%"), "50%");
    EXPECT_EQ(FormatNumber(0.5, "0.0"), "0.5");
  }
}

}  // namespace
}  // namespace sheetwise::xlsx
