// Distances and angles as the CAD host writes and reads them.
//
// Where the expected text comes from is said per row:
//   [rtos]     the host's AutoLISP reference for rtos and its "String Conversions" guide
//              (x = 17.5, DIMZIN 0, then UNITMODE 1), the same rows as ObjectARX's acdbRToS guide
//   [dimzin]   the host's DIMZIN reference ("0.5000 becomes .5000", "12.5000 becomes 12.5",
//              "0.5000 becomes .5")
//   [angtos]   the host's AutoLISP reference for angtos: (angtos 0.785398 0 4) "45.0000",
//              (angtos -0.785398 0 4) "315.0000", (angtos -0.785398 4) "S 45d E", and its
//              UNITMODE note ("N 45d E", "N45dE")
//   [angtof]   the host's AutoLISP reference for angtof: (angtof "45.0000") 0.785398,
//              (angtof "45.0000" 3) 1.0177
//   [cal]      the host's CAL reference for typed angles: 5d10'20", 0d10'20", 124.6r, 14g
//   [brx]      the angtos/angtof references of BricsCAD, another host with the same functions:
//              (angtos 1.570796 2 4) "100.0000g", (angtos 0.654932 1 3) "37d31'29\"",
//              (angtof "1.2") 0.020943951023932, (angtof "1.2" 2) 0.0188495559215388
//   [brief]    the forms this program's users see in their worksheets (the lead's examples)
//   [ours]     this implementation's choice where the references are silent (see units.h)
#include "platform/host/units.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <iomanip>
#include <limits>
#include <string>
#include <vector>

#include "platform/host/dbapserv.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
double Deg(double degrees) {
  return degrees * kPi / 180.0;
}

UnitSettings With(int dimzin, int unitmode) {
  UnitSettings s;
  s.dimzin = dimzin;
  s.unitmode = unitmode;
  return s;
}

// A value written in a unit and precision under DIMZIN and UNITMODE.
struct FormatRow {
  double value;
  int unit;
  int prec;
  int dimzin;
  int unitmode;
  const wchar_t* expected;
  const char* source;
};

TEST(FormatDistance, WritesEachUnitAsTheHost) {
  const FormatRow rows[] = {
      {17.5, 1, 4, 0, 0, L"1.7500E+01", "[rtos]"},
      {17.5, 2, 2, 0, 0, L"17.50", "[rtos]"},
      {17.5, 3, 2, 0, 0, L"1'-5.50\"", "[rtos]"},
      {17.5, 4, 2, 0, 0, L"1'-5 1/2\"", "[rtos]"},
      {17.5, 5, 2, 0, 0, L"17 1/2", "[rtos]"},
      {17.5, 3, 2, 0, 1, L"1'5.50\"", "[rtos] UNITMODE 1"},
      {17.5, 4, 2, 0, 1, L"1'5-1/2\"", "[rtos] UNITMODE 1"},
      {0.5, 2, 4, 4, 0, L".5000", "[dimzin] 4"},
      {12.5, 2, 4, 8, 0, L"12.5", "[dimzin] 8"},
      {0.5, 2, 4, 12, 0, L".5", "[dimzin] 12"},
      {147.5, 4, 1, 0, 0, L"12'-3 1/2\"", "[brief]"},
      {147.49999999999997, 2, 0, 0, 0, L"147", "[brief] just below the half"},
      {11.999, 4, 2, 0, 0, L"1'", "[brief] rounds to 12 inches, zero inches dropped"},
      // Scientific [ours]: at least two exponent digits, the exact value rounds.
      {0.0, 1, 4, 0, 0, L"0.0000E+00", "[ours]"},
      {99999.5, 1, 3, 0, 0, L"1.000E+05", "[ours] carry into the exponent"},
      {1e300, 1, 4, 0, 0, L"1.0000E+300", "[ours]"},
      {20.0, 1, 4, 8, 0, L"2E+01", "[ours]"},
      {17.5, 1, 0, 0, 0, L"2E+01", "[ours] half away from zero"},
      // Decimal [ours]: exact binary values round, exact halves away from zero.
      {-0.00001, 2, 4, 0, 0, L"0.0000", "[ours] no minus on a zero"},
      {0.125, 2, 2, 0, 0, L"0.13", "[ours] exact half"},
      {1.005, 2, 2, 0, 0, L"1.00", "[ours] 1.00499999999999989..."},
      {12.0, 2, 4, 8, 0, L"12", "[ours] no point left"},
      {0.0, 2, 4, 12, 0, L"0", "[ours] all zeros suppressed"},
      {123456789.125, 2, 15, 0, 0, L"123456789.125000000000000", "[ours]"},
      // Engineering: DIMZIN 0-3 over zero feet and zero inches [ours where not [rtos]].
      {5.5, 3, 2, 0, 0, L"5.50\"", "[ours] DIMZIN 0 drops zero feet"},
      {5.5, 3, 2, 1, 0, L"0'-5.50\"", "[ours]"},
      {5.5, 3, 2, 3, 0, L"5.50\"", "[ours]"},
      {12.0, 3, 2, 0, 0, L"1'", "[ours] DIMZIN 0 drops zero inches"},
      {12.0, 3, 2, 2, 0, L"1'", "[ours]"},
      {12.0, 3, 2, 3, 0, L"1'-0.00\"", "[ours]"},
      {0.0, 3, 2, 0, 0, L"0.00\"", "[ours] a zero keeps its inches"},
      {0.0, 3, 2, 2, 0, L"0'", "[ours] ... or its feet under DIMZIN 2"},
      {23.999, 3, 2, 0, 0, L"2'", "[ours] rounding carries into the feet"},
      // Architectural.
      {0.5, 4, 4, 0, 0, L"1/2\"", "[ours]"},
      {12.5, 4, 4, 0, 0, L"1'-0 1/2\"", "[ours]"},
      {17.25, 4, 1, 0, 0, L"1'-5 1/2\"", "[ours] exact half of 1/2 rounds up"},
      {17.75, 4, 8, 0, 0, L"1'-5 3/4\"", "[ours] reduced"},
      {0.00390625, 4, 8, 0, 0, L"1/256\"", "[ours]"},
      {0.0, 4, 4, 0, 0, L"0\"", "[ours]"},
      {-0.5, 4, 4, 0, 0, L"-1/2\"", "[ours]"},
      {1e20, 4, 0, 0, 0, L"8333333333333333333'-4\"", "[ours] exact however large"},
      // Fractional.
      {0.999, 5, 2, 0, 0, L"1", "[ours]"},
      {-17.5, 5, 2, 0, 0, L"-17 1/2", "[ours]"},
      {-0.001, 5, 4, 0, 0, L"0", "[ours] no minus on a zero"},
  };
  for (const FormatRow& row : rows) {
    UnitText t = FormatDistance(row.value, row.unit, row.prec, With(row.dimzin, row.unitmode));
    EXPECT_EQ(t.status, RTNORM) << row.value << " " << row.source;
    EXPECT_EQ(t.text, row.expected)
        << "value " << row.value << " unit " << row.unit << " prec " << row.prec << " dimzin "
        << row.dimzin << " unitmode " << row.unitmode << " " << row.source;
  }
}

// The decimal unit against an independent rounding: glibc's printf writes a double's exact
// expansion when asked for enough digits (80 here, more than any value below has), and the
// digits are then rounded half away from zero by hand. The values are the kinds a drawing holds:
// few binary decimals (grid coordinates, scales), many (measured ones), and those just beside a
// half, whose printed guard digits come out as zeros.
TEST(FormatDistance, DecimalRoundsTheExactValue) {
  auto expected = [](double value, int places) {
    char exact[160];
    std::snprintf(exact, sizeof exact, "%.80f", value);
    std::string digits(exact);
    const std::size_t dot = digits.find('.');
    bool up = digits[dot + 1 + static_cast<std::size_t>(places)] >= '5';
    digits.erase(dot + 1 + static_cast<std::size_t>(places));
    if (places == 0) digits.pop_back();
    for (std::size_t i = digits.size(); up && i-- > 0;) {
      if (digits[i] == '.') continue;
      if (digits[i] != '9') {
        ++digits[i];
        up = false;
      } else {
        digits[i] = '0';
      }
    }
    if (up) digits.insert(digits.begin(), '1');
    return std::wstring(digits.begin(), digits.end());
  };
  std::vector<double> values;
  std::uint64_t seed = 0x9E3779B97F4A7C15u;
  auto next = [&seed] {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    return seed;
  };
  for (int i = 0; i < 1500; ++i) {
    const int decimals = static_cast<int>(next() % 61);               // binary fraction digits
    const double whole = static_cast<double>(next() % (1ull << 40));  // up to about 1e12
    const double value = std::ldexp(whole, -decimals);
    values.push_back(value);
    // The doubles on either side of a half: an exact one (.125), and one at some decimal place
    // (.5, .05, .005...), which is exact only at the first.
    for (double half :
         {std::floor(value) + 0.125, std::floor(value) + 5.0 / std::pow(10.0, 1 + next() % 8)}) {
      values.push_back(half);
      values.push_back(std::nextafter(half, 0.0));
      values.push_back(std::nextafter(half, 1e300));
    }
  }
  values.insert(values.end(), {0.125, 0.375, 2.5, 1.0, 0.12499999999999999, 0.1250000000000001,
                               1.005, 999999.9999999999, 0.0});
  for (double value : values) {
    for (int places = 0; places <= 15; ++places) {
      UnitText t = FormatDistance(value, 2, places, With(0, 0));
      ASSERT_EQ(t.text, expected(value, places))
          << std::setprecision(17) << value << " to " << places << " places";
    }
  }
}

TEST(FormatDistance, RefusesBadUnitsPrecisionsAndValues) {
  struct Row {
    double value;
    int unit;
    int prec;
    int status;
  };
  const Row rows[] = {
      {1.0, 0, 2, RTREJ},
      {1.0, 6, 2, RTREJ},
      {1.0, 2, -2, RTREJ},
      {1.0, 2, 16, RTREJ},
      {1.0, 4, 9, RTREJ},
      {1.0, 2, 15, RTNORM},
      {1.0, 4, 8, RTNORM},
      {std::nan(""), 2, 2, RTERROR},
      {std::numeric_limits<double>::infinity(), 4, 2, RTERROR},
  };
  for (const Row& row : rows) {
    UnitText t = FormatDistance(row.value, row.unit, row.prec, UnitSettings{});
    EXPECT_EQ(t.status, row.status) << "unit " << row.unit << " prec " << row.prec;
    if (row.status != RTNORM) {
      EXPECT_TRUE(t.text.empty());
      EXPECT_FALSE(t.error.empty());
    }
  }
  UnitSettings bad;
  bad.lunits = 7;
  EXPECT_EQ(FormatDistance(1.0, -1, 2, bad).status, RTREJ);
}

TEST(FormatAngle, WritesEachUnitAsTheHost) {
  const FormatRow rows[] = {
      {0.785398, 0, 4, 0, 0, L"45.0000", "[angtos]"},
      {-0.785398, 0, 4, 0, 0, L"315.0000", "[angtos] negative angles reduce to [0, 2pi)"},
      {-0.785398, 4, 0, 0, 0, L"S 45d E", "[angtos] AUPREC 0"},
      {Deg(45), 4, 0, 0, 0, L"N 45d E", "[angtos] UNITMODE 0"},
      {Deg(45), 4, 0, 0, 1, L"N45dE", "[angtos] UNITMODE 1"},
      {1.570796, 2, 4, 0, 0, L"100.0000g", "[brx]"},
      {0.654932, 1, 3, 0, 0, L"37d31'29\"", "[brx]"},
      {Deg(45.5), 1, 4, 0, 0, L"45d30'0\"", "[brief]"},
      {Deg(45.5), 1, 2, 0, 0, L"45d30'", "[brief]"},
      {Deg(45 + 30 / 60.0 + 15.25 / 3600), 1, 6, 0, 0, L"45d30'15.25\"", "[brief]"},
      {Deg(45), 2, 4, 0, 0, L"50.0000g", "[brief]"},
      {Deg(44.5), 4, 2, 0, 0, L"N 45d30' E", "[brief]"},
      {Deg(90), 4, 4, 0, 0, L"N", "[brief]"},
      // [ours]
      {Deg(180), 4, 4, 0, 0, L"W", "[ours]"},
      {Deg(200), 4, 0, 0, 0, L"S 70d W", "[ours]"},
      {Deg(300), 4, 4, 0, 0, L"S 30d0'0\" E", "[ours]"},
      {Deg(89.9999), 4, 0, 0, 0, L"N", "[ours] rounds onto north"},
      {Deg(359.99999), 0, 4, 0, 0, L"0.0000", "[ours] a full circle is zero"},
      {Deg(45.99999), 1, 2, 0, 0, L"46d0'", "[ours] minutes carry into degrees"},
      {Deg(0.5), 0, 4, 4, 0, L".5000", "[ours] DIMZIN 4"},
      {Deg(45 + 30 / 60.0 + 15.5 / 3600), 1, 8, 8, 0, L"45d30'15.5\"", "[ours]"},
      {2 * kPi - 1e-6, 3, 4, 0, 0, L"0.0000r", "[ours] 6.2832 would be past the circle"},
      {1e300, 3, 2, 0, 0, nullptr, "[ours] any finite angle reduces"},
  };
  for (const FormatRow& row : rows) {
    UnitText t = FormatAngle(row.value, row.unit, row.prec, With(row.dimzin, row.unitmode));
    EXPECT_EQ(t.status, RTNORM) << row.value << " " << row.source;
    if (row.expected == nullptr) continue;
    EXPECT_EQ(t.text, row.expected) << "radians " << row.value << " unit " << row.unit << " prec "
                                    << row.prec << " " << row.source;
  }
}

TEST(FormatAngle, RefusesBadUnitsPrecisionsAndValues) {
  EXPECT_EQ(FormatAngle(1.0, 5, 2, UnitSettings{}).status, RTREJ);
  EXPECT_EQ(FormatAngle(1.0, 0, -3, UnitSettings{}).status, RTREJ);
  EXPECT_EQ(FormatAngle(1.0, 1, 16, UnitSettings{}).status, RTREJ);
  EXPECT_EQ(FormatAngle(std::nan(""), 0, 2, UnitSettings{}).status, RTERROR);
  UnitText inf = FormatAngle(std::numeric_limits<double>::infinity(), 4, 2, UnitSettings{});
  EXPECT_EQ(inf.status, RTERROR);
  EXPECT_TRUE(inf.text.empty());
  UnitSettings s;
  s.aunits = 1;
  s.auprec = 2;
  EXPECT_EQ(FormatAngle(Deg(45.5), -1, -1, s).text, L"45d30'");
}

struct ParseRow {
  const wchar_t* text;
  int unit;
  double degrees;
  const char* source;
};

TEST(ParseAngle, ReadsWrittenAndTypedForms) {
  const ParseRow rows[] = {
      {L"45.0000", 0, 45.0, "[angtof]"},
      {L"45.0000", 3, (45 - 14 * kPi) * 180 / kPi, "[angtof] 45 radians reduce to 1.0177"},
      {L"1.2", 0, 1.2, "[brx]"},
      {L"1.2", 2, 1.08, "[brx]"},
      {L"5d10'20\"", 0, 5 + 10 / 60.0 + 20 / 3600.0, "[cal]"},
      {L"0d10'20\"", 1, 10 / 60.0 + 20 / 3600.0, "[cal]"},
      {L"124.6r", 0, std::fmod(124.6, 2 * kPi) * 180 / kPi, "[cal]"},
      {L"14g", 0, 12.6, "[cal]"},
      {L"45d30'15\"", 1, 45 + 30 / 60.0 + 15 / 3600.0, "[brief]"},
      {L"N 45d E", 4, 45.0, "[brief]"},
      {L"N45dE", 4, 45.0, "[angtos] UNITMODE 1 form"},
      {L"S 45d E", 4, 315.0, "[angtos]"},
      {L"N 45d30' E", 4, 44.5, "[brief]"},
      // [ours]
      {L"n 45d30' w", 4, 135.5, "[ours] letters in any case"},
      {L"S 12.5 W", 4, 257.5, "[ours] a plain number is degrees"},
      {L"N", 4, 90.0, "[ours]"},
      {L"-45", 0, 315.0, "[ours] reduced to [0, 2pi)"},
      {L"-10d30'", 1, 349.5, "[ours]"},
      {L"45\u00b030'", 1, 45.5, "[ours] the degree sign"},
      {L"45d15\"", 1, 45 + 15 / 3600.0, "[ours] seconds without minutes"},
      {L"1.7500E+01", 0, 17.5, "[ours] exponent"},
      {L".5", 0, 0.5, "[ours]"},
      {L"45d", 3, 45.0, "[ours] a suffix wins over the unit"},
  };
  for (const ParseRow& row : rows) {
    AngleValue v = ParseAngle(row.text, row.unit, UnitSettings{});
    ASSERT_EQ(v.status, RTNORM) << "\"" << std::string(row.text, row.text + wcslen(row.text))
                                << "\" " << row.source << ": " << v.error_offset;
    EXPECT_NEAR(v.radians, Deg(row.degrees), 1e-9)
        << std::string(row.text, row.text + wcslen(row.text)) << " " << row.source;
    EXPECT_GE(v.radians, 0.0);
    EXPECT_LT(v.radians, 2 * kPi);
  }
  // Unit -1 is the settings' unit: degrees in new settings.
  EXPECT_NEAR(ParseAngle(L"45.0000", -1, UnitSettings{}).radians, 0.785398, 5e-7);
}

TEST(ParseAngle, RefusesTextThatIsNotAnAngle) {
  struct Row {
    const wchar_t* text;
    std::size_t offset;
  };
  const Row rows[] = {
      {L"", 0},         {L"   ", 0},   {L"abc", 0},      {L"45x", 2},     {L"45d30", 3},
      {L"45d30'15", 6}, {L"N 45d", 5}, {L"N 100d E", 2}, {L"E 45d N", 0}, {L"45 30", 3},
      {L"--45", 1},     {L"1e999", 0}, {L"45d-30'", 3},  {L"NaN", 1},     {L"inf", 0},
      {L"d30'", 0},     {L"N  E", 3},  {L"45g30", 3},    {L"45.5.5", 4},  {L"N 45d E x", 8},
      {L"\u00e945", 0}, {L"45r'", 3},  {L".", 0},        {L"-", 1},
  };
  for (const Row& row : rows) {
    AngleValue v = ParseAngle(row.text, 0, UnitSettings{});
    std::string narrow;
    for (const wchar_t* p = row.text; *p; ++p) narrow.push_back(static_cast<char>(*p));
    EXPECT_EQ(v.status, RTERROR) << "\"" << narrow << "\"";
    EXPECT_EQ(v.error_offset, row.offset) << "\"" << narrow << "\"";
    EXPECT_FALSE(v.error.empty()) << "\"" << narrow << "\"";
  }
  EXPECT_EQ(ParseAngle(L"45", 5, UnitSettings{}).status, RTREJ);
  EXPECT_EQ(ParseAngle(L"45", -2, UnitSettings{}).status, RTREJ);
}

// What angtos writes, angtof reads back within half the last shown unit, and writing the read
// angle again gives the same text.
TEST(ParseAngle, ReadsBackWhatFormatAngleWrites) {
  const double degrees[] = {0,   0.0001, 1,     12.3456789, 44.5,      45,     89.99,
                            90,  90.5,   135,   179.999999, 180,       200.25, 269.5,
                            270, 300.75, 333.3, 359.9,      359.99999, -12.5,  1000.125};
  for (int unit = 0; unit <= 4; ++unit) {
    for (int prec = 0; prec <= 8; ++prec) {
      for (int unitmode = 0; unitmode <= 1; ++unitmode) {
        for (double d : degrees) {
          UnitSettings s = With(0, unitmode);
          UnitText t = FormatAngle(Deg(d), unit, prec, s);
          ASSERT_EQ(t.status, RTNORM);
          AngleValue v = ParseAngle(t.text, unit, s);
          std::string narrow(t.text.begin(), t.text.end());
          ASSERT_EQ(v.status, RTNORM) << narrow << " unit " << unit;
          double half_step;  // half the last shown unit, in degrees
          if (unit == 1 || unit == 4) {
            half_step = prec == 0   ? 0.5
                        : prec <= 2 ? 0.5 / 60
                                    : 0.5 / 3600 * std::pow(10, -(prec > 4 ? prec - 4 : 0));
          } else if (unit == 2) {
            half_step = 0.5 * std::pow(10, -prec) * 0.9;
          } else if (unit == 3) {
            half_step = 0.5 * std::pow(10, -prec) * 180 / kPi;
          } else {
            half_step = 0.5 * std::pow(10, -prec);
          }
          double diff = std::remainder(v.radians - Deg(d), 2 * kPi) * 180 / kPi;
          EXPECT_LE(std::fabs(diff), half_step * (1 + 1e-6) + 1e-9)
              << narrow << " from " << d << " unit " << unit << " prec " << prec;
          EXPECT_EQ(FormatAngle(v.radians, unit, prec, s).text, t.text)
              << narrow << " unit " << unit << " prec " << prec;
        }
      }
    }
  }
}

// The host-named entry points: the buffer rule, the result codes, the drawing's settings.
TEST(AcdbRToS, WritesIntoTheBufferOnlyWhatFits) {
  acdbHostApplicationServices()->setWorkingDatabase(nullptr);
  wchar_t buf[16];
  // "1'-5 1/2\"" is 9 characters: it needs 10 with the terminator.
  EXPECT_EQ(acdbRToS(17.5, 4, 2, buf, 10), RTNORM);
  EXPECT_STREQ(buf, L"1'-5 1/2\"");
  std::wcscpy(buf, L"unchanged");
  EXPECT_EQ(acdbRToS(17.5, 4, 2, buf, 9), RTERROR);
  EXPECT_STREQ(buf, L"");  // never a cut number
  EXPECT_EQ(acdbRToS(17.5, 4, 2, nullptr, 10), RTREJ);
  std::wcscpy(buf, L"unchanged");
  EXPECT_EQ(acdbRToS(17.5, 4, 2, buf, 0), RTREJ);
  EXPECT_STREQ(buf, L"unchanged");
  EXPECT_EQ(acdbRToS(17.5, 9, 2, buf, 16), RTREJ);
  EXPECT_STREQ(buf, L"");
  EXPECT_EQ(acdbRToS(std::nan(""), 2, 2, buf, 16), RTERROR);

  EXPECT_EQ(acdbAngToS(Deg(45), 1, 4, buf, 9), RTNORM);
  EXPECT_STREQ(buf, L"45d0'0\"");
  EXPECT_EQ(acdbAngToS(Deg(45), 1, 4, buf, 7), RTERROR);
  EXPECT_EQ(acdbAngToS(Deg(45), 7, 4, buf, 16), RTREJ);
}

TEST(AcdbRToS, OldSignatureAssumes256Characters) {
  std::vector<wchar_t> big(600, L'#');
  EXPECT_EQ(acdbRToS(17.5, 2, 2, big.data()), RTNORM);
  EXPECT_STREQ(big.data(), L"17.50");
  // 1e300 in decimals is 306 characters: more than the assumed buffer holds.
  std::fill(big.begin(), big.end(), L'#');
  EXPECT_EQ(acdbRToS(1e300, 2, 4, big.data()), RTERROR);
  EXPECT_EQ(big[0], L'\0');
  for (std::size_t i = 1; i < big.size(); ++i) ASSERT_EQ(big[i], L'#') << i;
}

// A drawing made the working one for a test's scope.
class WorkingDrawing {
 public:
  WorkingDrawing() { acdbHostApplicationServices()->setWorkingDatabase(&db_); }
  ~WorkingDrawing() { acdbHostApplicationServices()->setWorkingDatabase(nullptr); }
  AcDbDatabase& db() { return db_; }

 private:
  AcDbDatabase db_{true, true};
};

TEST(AcdbRToS, MinusOneReadsTheWorkingDrawing) {
  wchar_t buf[64];
  double v = 0;
  {
    WorkingDrawing drawing;
    AcDbDatabase& db = drawing.db();
    ASSERT_EQ(db.setLunits(4), Acad::eOk);
    ASSERT_EQ(db.setLuprec(2), Acad::eOk);
    ASSERT_EQ(db.setAunits(1), Acad::eOk);
    ASSERT_EQ(db.setAuprec(4), Acad::eOk);
    ASSERT_EQ(db.setDimzin(1), Acad::eOk);
    ASSERT_EQ(db.setUnitmode(1), Acad::eOk);
    EXPECT_EQ(acdbRToS(17.5, -1, -1, buf, 64), RTNORM);
    EXPECT_STREQ(buf, L"1'5-1/2\"");
    EXPECT_EQ(acdbRToS(5.5, -1, -1, buf, 64), RTNORM);
    EXPECT_STREQ(buf, L"0'5-1/2\"");  // DIMZIN 1 keeps zero feet
    EXPECT_EQ(acdbAngToS(Deg(45), -1, -1, buf, 64), RTNORM);
    EXPECT_STREQ(buf, L"45d0'0\"");
    EXPECT_EQ(acdbAngToF(L"45d30'", -1, &v), RTNORM);
    EXPECT_NEAR(v, Deg(45.5), 1e-12);

    ASSERT_EQ(db.setAunits(3), Acad::eOk);
    EXPECT_EQ(acdbAngToF(L"1.5", -1, &v), RTNORM);
    EXPECT_NEAR(v, 1.5, 1e-12);
    EXPECT_EQ(acdbAngToS(1.5, -1, 2, buf, 64), RTNORM);
    EXPECT_STREQ(buf, L"1.50r");
  }
  // Without a working drawing: the defaults of a new one.
  EXPECT_EQ(acdbRToS(17.5, -1, -1, buf, 64), RTNORM);
  EXPECT_STREQ(buf, L"17.5000");
  EXPECT_EQ(acdbAngToS(Deg(45), -1, -1, buf, 64), RTNORM);
  EXPECT_STREQ(buf, L"45");
  EXPECT_EQ(acdbAngToF(L"1.5", -1, &v), RTNORM);
  EXPECT_NEAR(v, Deg(1.5), 1e-12);
}

// Real drawings' settings: floorplan LUPREC 2, AUPREC 2, DIMZIN 3; insert_level_1 LUPREC 4,
// AUPREC 2, DIMZIN 8 (trailing zeros dropped).
TEST(AcdbRToS, MinusOneReadsALoadedDrawing) {
  struct Row {
    const char* file;
    const wchar_t* distance;
    const wchar_t* angle;
  };
  const Row rows[] = {
      {"acadm_AC1018_floorplan.dxf", L"17.50", L"45.00"},
      {"bricscad_AC1027_insert_level_1.dxf", L"17.5", L"45"},
  };
  for (const Row& row : rows) {
    std::filesystem::path path = std::filesystem::path(SW_SHARED_DIR) / "corpus" / "dxf" / row.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is absent";
    WorkingDrawing drawing;
    ASSERT_EQ(drawing.db().dxfIn(path.wstring().c_str()), Acad::eOk) << row.file;
    wchar_t buf[64];
    EXPECT_EQ(acdbRToS(17.5, -1, -1, buf, 64), RTNORM);
    EXPECT_STREQ(buf, row.distance) << row.file;
    EXPECT_EQ(acdbAngToS(Deg(45), -1, -1, buf, 64), RTNORM);
    EXPECT_STREQ(buf, row.angle) << row.file;
  }
}

TEST(AcdbAngToF, LeavesTheValueAloneOnFailure) {
  acdbHostApplicationServices()->setWorkingDatabase(nullptr);
  double v = 123.0;
  EXPECT_EQ(acdbAngToF(L"45 degrees", 0, &v), RTERROR);
  EXPECT_EQ(v, 123.0);
  EXPECT_EQ(acdbAngToF(L"45", 9, &v), RTREJ);
  EXPECT_EQ(acdbAngToF(nullptr, 0, &v), RTREJ);
  EXPECT_EQ(v, 123.0);
  EXPECT_EQ(acdbAngToF(L"45", 0, nullptr), RTREJ);
  EXPECT_EQ(acdbAngToF(L"N 45d E", 4, &v), RTNORM);
  EXPECT_NEAR(v, Deg(45), 1e-12);
}

}  // namespace
