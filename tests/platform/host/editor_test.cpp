// The host's editor: keyword and string prompts driven by scripted lines, acutPrintf, system
// variables, and selection sets over real drawings.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/dbapserv.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/editor.h"
#include "platform/host/selection.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace fs = std::filesystem;
using sheetwise::host::InputSource;

namespace {

// Answers prompts from a list of lines; records the prompts it was asked.
class Script : public InputSource {
 public:
  explicit Script(std::vector<std::wstring> lines) : lines_(lines.begin(), lines.end()) {}
  std::optional<std::wstring> ReadLine(const std::wstring& prompt) override {
    prompts.push_back(prompt);
    if (lines_.empty()) return std::nullopt;
    std::wstring line = lines_.front();
    lines_.pop_front();
    return line;
  }
  std::size_t left() const { return lines_.size(); }
  std::vector<std::wstring> prompts;

 private:
  std::deque<std::wstring> lines_;
};

// Plugs a script and an output capture into the editor for one test.
class Console {
 public:
  explicit Console(std::vector<std::wstring> lines) : script(std::move(lines)) {
    sheetwise::host::SetInput(&script);
    sheetwise::host::SetOutput([this](std::wstring_view text) { out += text; });
  }
  ~Console() {
    sheetwise::host::SetInput(nullptr);
    sheetwise::host::SetOutput({});
  }
  Script script;
  std::wstring out;
};

struct KwordCase {
  const wchar_t* keywords;
  int flags;
  std::vector<std::wstring> lines;
  int status;
  const wchar_t* result;
  int invalid_messages;  // how many "Invalid option keyword." lines
};

TEST(AcedGetKword, AcceptsNamesAbbreviationsAndGlobalNames) {
  const wchar_t* kExport = L"Export Import Options _Export Import Options";
  const wchar_t* kGerman = L"Exportieren Importieren _Export Import";
  const KwordCase cases[] = {
      {kExport, 0, {L"e"}, RTNORM, L"Export", 0},
      {kExport, 0, {L"  opt  "}, RTNORM, L"Options", 0},
      {kExport, 0, {L"_import"}, RTNORM, L"Import", 0},
      {kExport, 0, {L"exports", L"_", L"i"}, RTNORM, L"Import", 2},
      // The local name typed, the global name answered.
      {kGerman, 0, {L"imp"}, RTNORM, L"Import", 0},
      {kGerman, 0, {L"_importieren", L"_Import"}, RTNORM, L"Import", 1},
      // Capitals: a leading run is the shortest form, a later run can stand alone.
      {L"LType eXit", 0, {L"l", L"ltyp"}, RTNORM, L"LType", 1},
      {L"LType eXit", 0, {L"e", L"ex"}, RTNORM, L"eXit", 1},
      // Without capitals only the whole name.
      {L"yes no", 0, {L"y", L"YES"}, RTNORM, L"yes", 1},
      {L"Ltype,LT Layer,LA", 0, {L"la"}, RTNORM, L"Layer", 0},
      // Non-ASCII names fold their case too.
      {L"Öffnen Schließen _Open Close", 0, {L"ö"}, RTNORM, L"Open", 0},
      // Enter, cancel, end of input.
      {kExport, 0, {L""}, RTNONE, L"", 0},
      {kExport, RSG_NONULL, {L"", L"  ", L"i"}, RTNORM, L"Import", 0},
      {kExport, 0, {L"x", L"\x03"}, RTCAN, nullptr, 1},
      {kExport, RSG_NONULL, {}, RTCAN, nullptr, 0},
      // Arbitrary input where the caller allows it.
      {kExport, RSG_OTHER, {L"Something"}, RTNORM, L"Something", 0},
  };
  for (const KwordCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "keywords " << c.keywords << ", first line "
                                    << (c.lines.empty() ? L"<none>" : c.lines[0]));
    Console console(c.lines);
    ASSERT_EQ(acedInitGet(c.flags, c.keywords), RTNORM);
    ACHAR result[64] = L"untouched";
    EXPECT_EQ(acedGetKword(L"Choose: ", result, 64), c.status);
    if (c.result != nullptr) {
      EXPECT_STREQ(result, c.result);
    }
    EXPECT_EQ(console.script.left(), 0u) << "every line read, none beyond";
    std::size_t messages = 0;
    for (std::size_t at = 0;
         (at = console.out.find(L"Invalid option keyword.\n", at)) != std::wstring::npos; ++at)
      ++messages;
    EXPECT_EQ(messages, static_cast<std::size_t>(c.invalid_messages));
    // The prompt is shown before each line read.
    EXPECT_TRUE(console.out.starts_with(L"Choose: "));
    for (const std::wstring& prompt : console.script.prompts) EXPECT_EQ(prompt, L"Choose: ");
  }
}

TEST(AcedGetKword, ConditionsHoldForOnePromptAndResultsMustFit) {
  Console console({L"e", L"options", L"opt"});
  ACHAR result[16];
  ASSERT_EQ(acedInitGet(0, L"Export Import"), RTNORM);
  EXPECT_EQ(acedGetKword(L"? ", result, 16), RTNORM);
  // The list was used up: the next prompt has none.
  EXPECT_EQ(acedGetKword(L"? ", result, 16), RTERROR);
  EXPECT_EQ(console.script.left(), 2u) << "no line read without a keyword list";
  ASSERT_EQ(acedInitGet(0, L"Export Options"), RTNORM);
  EXPECT_EQ(acedGetKword(L"? ", result, 7), RTERROR) << "\"Options\" needs 8 characters";
  ASSERT_EQ(acedInitGet(0, L"Export Options"), RTNORM);
  EXPECT_EQ(acedGetKword(L"? ", result, 8), RTNORM);
  EXPECT_STREQ(result, L"Options");
  // Global and local lists of different lengths are refused.
  EXPECT_EQ(acedInitGet(0, L"A B _A"), RTERROR);
  EXPECT_EQ(acedInitGet(0, L"A _B _C"), RTERROR);
}

struct StringCase {
  int cronly;
  int flags;
  std::vector<std::wstring> lines;
  std::size_t bufsize;
  int status;
  const wchar_t* result;
};

TEST(AcedGetString, BlankEndsTheTextUnlessCrOnly) {
  const StringCase cases[] = {
      {0, 0, {L"hello world"}, 64, RTNORM, L"hello"},
      {1, 0, {L"hello world"}, 64, RTNORM, L"hello world"},
      {1, 0, {L" leading "}, 64, RTNORM, L" leading "},
      {0, 0, {L""}, 64, RTNORM, L""},
      {1, RSG_NONULL, {L"", L"x"}, 64, RTNORM, L"x"},
      {1, 0, {L"12345"}, 6, RTNORM, L"12345"},
      {1, 0, {L"123456"}, 6, RTERROR, nullptr},
      {1, 0, {L"\x1b"}, 64, RTCAN, nullptr},
      {0, 0, {}, 64, RTCAN, nullptr},
  };
  for (const StringCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "cronly " << c.cronly << ", lines " << c.lines.size()
                                    << (c.lines.empty() ? L"" : c.lines[0]));
    Console console(c.lines);
    acedInitGet(c.flags, nullptr);
    ACHAR result[64] = L"untouched";
    EXPECT_EQ(acedGetString(c.cronly, L"Name: ", result, c.bufsize), c.status);
    if (c.result != nullptr) {
      EXPECT_STREQ(result, c.result);
    }
    EXPECT_EQ(console.script.left(), 0u);
  }
}

TEST(AcutPrintf, FormatsWideStringsAndNumbersWithThePoint) {
  // A user's locale with a decimal comma must not change the output.
  const char* comma_locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  struct Row {
    std::wstring expected;
    std::function<int()> print;
  };
  const Row rows[] = {
      {L"x=5", [] { return acutPrintf(L"%s=%d", L"x", 5); }},
      {L" 3.14|", [] { return acutPrintf(L"%5.2f|", 3.14159); }},
      {L"1e-05 2.5", [] { return acutPrintf(L"%g %g", 1e-5, 2.5); }},
      {L"ab  |  ab|", [] { return acutPrintf(L"%-4s|%4ls|", L"ab", L"ab"); }},
      {L"é Ä", [] { return acutPrintf(L"%hs %c", "\xc3\xa9", L'Ä'); }},
      {L"100% 9000000000", [] { return acutPrintf(L"100%% %lld", 9000000000LL); }},
      {L"[  7] [-7  ] [007]", [] { return acutPrintf(L"[%*d] [%-4d] [%03d]", 3, 7, -7, 7); }},
      {L"(null)", [] { return acutPrintf(L"%s", static_cast<const wchar_t*>(nullptr)); }},
      {L"42 -1", [] { return acutPrintf(L"%zu %hd", static_cast<std::size_t>(42), -1); }},
  };
  for (const Row& row : rows) {
    Console console({});
    int n = row.print();
    EXPECT_EQ(console.out, row.expected);
    EXPECT_EQ(n, static_cast<int>(row.expected.size())) << console.out;
  }
  {
    Console console({});
    EXPECT_EQ(acutPrintf(L"%q %d", 1), -1) << "unknown conversion";
    EXPECT_EQ(acutPrintf(L"trailing %"), -1);
    EXPECT_EQ(console.out, L"");
  }
  if (comma_locale != nullptr) std::setlocale(LC_NUMERIC, "C");
}

// ---- system variables

fs::path Sample(const std::string& name) {
  return dxf_test::SamplesDir() / name;
}
fs::path Corpus(const std::string& name) {
  return fs::path(SW_SHARED_DIR) / "corpus" / "dxf" / name;
}

// Makes `db` the working database for one test.
class Working {
 public:
  explicit Working(AcDbDatabase* db) { acdbHostApplicationServices()->setWorkingDatabase(db); }
  ~Working() {
    AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
    sheetwise::host::ForgetDatabase(db);
    acdbHostApplicationServices()->setWorkingDatabase(nullptr);
  }
};

resbuf Short(short v) {
  return {nullptr, RTSHORT, {.rint = v}};
}

TEST(AcedGetVar, HostVariablesAreKeptAndCheckedPerProcess) {
  for (const wchar_t* name : {L"CMDECHO", L"FileDia"}) {
    SCOPED_TRACE(testing::Message() << name);
    resbuf rb{};
    ASSERT_EQ(acedGetVar(name, &rb), RTNORM);
    EXPECT_EQ(rb.restype, RTSHORT);
    EXPECT_EQ(rb.resval.rint, 1);
    resbuf zero = Short(0);
    ASSERT_EQ(acedSetVar(name, &zero), RTNORM);
    ASSERT_EQ(acedGetVar(name, &rb), RTNORM);
    EXPECT_EQ(rb.resval.rint, 0);
    resbuf two = Short(2);
    EXPECT_EQ(acedSetVar(name, &two), RTERROR);
    resbuf real{nullptr, RTREAL, {.rreal = 1}};
    EXPECT_EQ(acedSetVar(name, &real), RTERROR);
    ASSERT_EQ(acedGetVar(name, &rb), RTNORM);
    EXPECT_EQ(rb.resval.rint, 0) << "a refused value changes nothing";
    resbuf one{nullptr, RTLONG, {.rlong = 1}};
    EXPECT_EQ(acedSetVar(name, &one), RTNORM);
  }
  resbuf rb{};
  EXPECT_EQ(acedGetVar(L"NOSUCHVAR", &rb), RTERROR);
  EXPECT_EQ(acedGetVar(nullptr, &rb), RTERROR);
  // Without a drawing the drawing's variables have no value; the host's still do.
  acdbHostApplicationServices()->setWorkingDatabase(nullptr);
  EXPECT_EQ(acedGetVar(L"LUNITS", &rb), RTERROR);
  EXPECT_EQ(acedGetVar(L"CMDECHO", &rb), RTNORM);
}

TEST(AcedGetVar, DrawingVariablesComeFromTheWorkingDrawingAndAreSavedWithIt) {
  fs::path sample = Sample("attributes_r2010.dxf");
  ASSERT_TRUE(fs::exists(sample));
  dxf_test::TempDir tmp;
  fs::path copy = tmp.path() / "units.dxf";
  fs::copy_file(sample, copy);
  {
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(copy.wstring().c_str()), Acad::eOk);
    Working working(&db);
    struct Expected {
      const wchar_t* name;
      int value;
    };
    const Expected shorts[] = {
        {L"LUNITS", db.lunits()},         {L"luprec", db.luprec()}, {L"AUNITS", db.aunits()},
        {L"AUPREC", db.auprec()},         {L"DIMZIN", db.dimzin()}, {L"UNITMODE", db.unitmode()},
        {L"ANGDIR", db.angdir() ? 1 : 0},
    };
    for (const Expected& e : shorts) {
      resbuf rb{};
      ASSERT_EQ(acedGetVar(e.name, &rb), RTNORM) << e.name;
      EXPECT_EQ(rb.restype, RTSHORT);
      EXPECT_EQ(rb.resval.rint, e.value) << e.name;
    }
    resbuf rb{};
    ASSERT_EQ(acedGetVar(L"DWGNAME", &rb), RTNORM);
    ASSERT_EQ(rb.restype, RTSTR);
    EXPECT_STREQ(rb.resval.rstring, L"units.dxf");
    acutDelBuffer(rb.resval.rstring);
    ASSERT_EQ(acedGetVar(L"DWGPREFIX", &rb), RTNORM);
    EXPECT_EQ(fs::path(rb.resval.rstring), fs::absolute(tmp.path()) / "");
    acutDelBuffer(rb.resval.rstring);

    // Ranges as the host has them; a refused value leaves the drawing as it was.
    struct SetCase {
      const wchar_t* name;
      short value;
      int status;
    };
    const SetCase sets[] = {
        {L"LUNITS", 4, RTNORM},   {L"LUNITS", 6, RTERROR},  {L"LUNITS", 0, RTERROR},
        {L"LUPREC", 6, RTNORM},   {L"LUPREC", 9, RTERROR},  {L"DIMZIN", 15, RTNORM},
        {L"DIMZIN", 16, RTERROR}, {L"UNITMODE", 1, RTNORM}, {L"DWGNAME", 0, RTERROR},
    };
    for (const SetCase& s : sets) {
      resbuf v = Short(s.value);
      EXPECT_EQ(acedSetVar(s.name, &v), s.status) << s.name << " " << s.value;
    }
    resbuf text{nullptr, RTSTR, {.rstring = const_cast<ACHAR*>(L"2")}};
    EXPECT_EQ(acedSetVar(L"LUNITS", &text), RTERROR) << "wrong type";
    EXPECT_EQ(db.lunits(), 4);
    EXPECT_EQ(db.luprec(), 6);
    EXPECT_EQ(db.dimzin(), 15);
    EXPECT_EQ(db.unitmode(), 1);
    ASSERT_EQ(db.saveAs(copy.wstring().c_str()), Acad::eOk);
  }
  AcDbDatabase again(false, true);
  ASSERT_EQ(again.dxfIn(copy.wstring().c_str()), Acad::eOk);
  EXPECT_EQ(again.lunits(), 4);
  EXPECT_EQ(again.luprec(), 6);
  EXPECT_EQ(again.unitmode(), 1);
}

// ---- selection sets

// Frees a selection set at the end of a scope.
struct SetGuard {
  ads_name ss{0, 0};
  bool open = false;
  ~SetGuard() {
    if (open) acedSSFree(ss);
  }
};

Adesk::Int32 Length(const ads_name ss) {
  Adesk::Int32 n = -1;
  EXPECT_EQ(acedSSLength(ss, &n), RTNORM);
  return n;
}

std::vector<AcDbObjectId> Members(const ads_name ss) {
  std::vector<AcDbObjectId> out;
  for (Adesk::Int32 i = 0, n = Length(ss); i < n; ++i) {
    ads_name ent;
    EXPECT_EQ(acedSSName(ss, i, ent), RTNORM);
    AcDbObjectId id;
    EXPECT_EQ(acdbGetObjectId(id, ent), Acad::eOk);
    out.push_back(id);
  }
  return out;
}

resbuf Group(short code, const wchar_t* value, resbuf* next = nullptr) {
  return {next, code, {.rstring = const_cast<ACHAR*>(value)}};
}

// The INSERT entities of every layout as ezdxf 0.18.1 counted them (the corpus manifest,
// "INSERT n (layouts m ...)": model space and all paper spaces, nested ones left out).
struct CorpusCount {
  const char* file;
  int inserts;
};
constexpr CorpusCount kCorpusInserts[] = {
    {"acad_AC1009_example_r12.dxf", 19},      {"acad_AC1018_A_000217.dxf", 610},
    {"acad_AC1032_dynblk0.dxf", 4},           {"qcad-teigha_AC1027_flange.dxf", 1},
    {"acad_AC1015_cp1251_PolyLine2D.dxf", 0},
};

TEST(AcedSSGet, WholeDrawingFilteredByTypeMatchesTheCorpusCounts) {
  int present = 0;
  for (const CorpusCount& c : kCorpusInserts) {
    fs::path path = Corpus(c.file);
    if (!fs::exists(path)) continue;
    ++present;
    SCOPED_TRACE(c.file);
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(path.wstring().c_str()), Acad::eOk);
    Working working(&db);
    resbuf filter = Group(0, L"insert");
    SetGuard set;
    int rc = acedSSGet(L"_X", nullptr, nullptr, &filter, set.ss);
    if (c.inserts == 0) {
      EXPECT_EQ(rc, RTERROR) << "nothing selected gives no set";
      continue;
    }
    ASSERT_EQ(rc, RTNORM);
    set.open = true;
    EXPECT_EQ(Length(set.ss), c.inserts);
    // Every member is a block reference that opens.
    for (AcDbObjectId id : Members(set.ss)) {
      AcDbBlockReference* ref = nullptr;
      ASSERT_EQ(acdbOpenObject(ref, id, AcDb::kForRead), Acad::eOk);
      ref->close();
    }
    // Type lists and wildcards select the same.
    resbuf list = Group(0, L"LINE,INS*");
    SetGuard with_lines;
    ASSERT_EQ(acedSSGet(L"x", nullptr, nullptr, &list, with_lines.ss), RTNORM);
    with_lines.open = true;
    EXPECT_GE(Length(with_lines.ss), c.inserts);
  }
  if (present == 0) GTEST_SKIP() << "corpus absent: " << Corpus("");
}

TEST(AcedSSGet, WholeDrawingHoldsWhatEzdxfSeesInEveryLayout) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf not available to /usr/bin/python3";
  // Every entity of every layout, and those on layer 0 (a missing group 8 means "0").
  const std::string script =
      "import ezdxf,sys\n"
      "d=ezdxf.readfile(sys.argv[1])\n"
      "es=[e for l in d.layouts for e in l]\n"
      "print(len(es), sum(1 for e in es if e.dxf.get('layer','0').upper()=='0'))\n";
  for (const char* file : {"acad_AC1009_example_r12.dxf", "acad_AC1018_A_000217.dxf",
                           "qcad-teigha_AC1027_flange.dxf", "acad_AC1032_dynblk0.dxf"}) {
    fs::path path = Corpus(file);
    if (!fs::exists(path)) continue;
    SCOPED_TRACE(file);
    std::string output;
    ASSERT_EQ(
        dxf_test::Run("/usr/bin/python3 -c \"" + script + "\" '" + path.string() + "'", &output),
        0);
    int all = -1, on_zero = -1;
    ASSERT_EQ(std::sscanf(output.c_str(), "%d %d", &all, &on_zero), 2) << output;
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(path.wstring().c_str()), Acad::eOk);
    Working working(&db);
    ads_name ss;
    ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, nullptr, ss), RTNORM);
    EXPECT_EQ(Length(ss), all);
    acedSSFree(ss);
    resbuf layer = Group(8, L"0");
    int rc = acedSSGet(L"_X", nullptr, nullptr, &layer, ss);
    if (on_zero == 0) {
      EXPECT_EQ(rc, RTERROR);
      continue;
    }
    ASSERT_EQ(rc, RTNORM);
    EXPECT_EQ(Length(ss), on_zero);
    acedSSFree(ss);
  }
}

// The ids of the block references in model space and paper spaces, read through the block
// table (a path of its own, independent of the selection code).
std::vector<AcDbObjectId> ReferencesThroughTables(AcDbDatabase& db, const wchar_t* block_pattern,
                                                  const wchar_t* layer_pattern) {
  std::vector<AcDbObjectId> out;
  AcDbBlockTable* table = nullptr;
  EXPECT_EQ(db.getSymbolTable(table, AcDb::kForRead), Acad::eOk);
  for (AcDbObjectId record_id : table->recordIds()) {
    AcDbBlockTableRecord* record = nullptr;
    EXPECT_EQ(acdbOpenObject(record, record_id, AcDb::kForRead), Acad::eOk);
    if (record->isLayout()) {
      AcDbBlockTableRecordIterator* it = nullptr;
      record->newIterator(it);
      for (; !it->done(); it->step()) {
        AcDbEntity* e = nullptr;
        EXPECT_EQ(it->getEntity(e, AcDb::kForRead), Acad::eOk);
        if (auto* ref = AcDbBlockReference::cast(e)) {
          AcDbBlockTableRecord* block = nullptr;
          EXPECT_EQ(acdbOpenObject(block, ref->blockTableRecord(), AcDb::kForRead), Acad::eOk);
          AcString name;
          block->getName(name);
          block->close();
          ACHAR* layer = e->layer();
          if (acutWcMatch(name, block_pattern) == RTNORM &&
              acutWcMatch(layer, layer_pattern) == RTNORM)
            out.push_back(e->objectId());
          acutDelBuffer(layer);
        }
        e->close();
      }
      delete it;
    }
    record->close();
  }
  table->close();
  return out;
}

TEST(AcedSSGet, FiltersByBlockNameAndLayerIncludingAnonymousBlocks) {
  for (const char* file : {"acad_AC1032_dynblk0.dxf", "acad_AC1027_api-cw750-details.dxf",
                           "acad_AC1018_A_000217.dxf"}) {
    fs::path path = Corpus(file);
    if (!fs::exists(path)) GTEST_SKIP() << "corpus file missing: " << path;
    SCOPED_TRACE(file);
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(path.wstring().c_str()), Acad::eOk);
    Working working(&db);
    struct Row {
      const wchar_t* block;
      const wchar_t* layer;
    };
    const Row rows[] = {{L"`*U*", L"*"}, {L"~`*U*", L"*"}, {L"*", L"0"}, {L"[A-M]*", L"~0"}};
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.block << " on " << row.layer);
      std::vector<AcDbObjectId> expected = ReferencesThroughTables(db, row.block, row.layer);
      resbuf layer = Group(8, row.layer);
      resbuf block = Group(2, row.block, &layer);
      SetGuard set;
      int rc = acedSSGet(L"_X", nullptr, nullptr, &block, set.ss);
      set.open = rc == RTNORM;
      if (expected.empty()) {
        EXPECT_EQ(rc, RTERROR);
        continue;
      }
      ASSERT_EQ(rc, RTNORM);
      std::vector<AcDbObjectId> got = Members(set.ss);
      std::sort(got.begin(), got.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(got, expected);
    }
  }
}

TEST(AcedSSGet, RefusesFiltersAndModesItCannotHonour) {
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(Sample("attributes_r2010.dxf").wstring().c_str()), Acad::eOk);
  ads_name ss{0, 0};
  resbuf ok = Group(0, L"INSERT");
  EXPECT_EQ(acedSSGet(L"_X", nullptr, nullptr, &ok, ss), RTERROR) << "no working drawing";
  Working working(&db);
  resbuf colour{nullptr, 62, {.rint = 1}};
  EXPECT_EQ(acedSSGet(L"_X", nullptr, nullptr, &colour, ss), RTERROR);
  resbuf null_text = Group(8, nullptr);
  EXPECT_EQ(acedSSGet(L"_X", nullptr, nullptr, &null_text, ss), RTERROR);
  resbuf none = Group(2, L"NO_SUCH_BLOCK");
  EXPECT_EQ(acedSSGet(L"_X", nullptr, nullptr, &none, ss), RTERROR);
  EXPECT_EQ(acedSSGet(L"_CP", nullptr, nullptr, nullptr, ss), RTERROR);
  EXPECT_EQ(ss[0], 0) << "no set made";
  // Pick-first: empty, then two references.
  sheetwise::host::SetPickFirst({});
  EXPECT_EQ(acedSSGet(L"_I", nullptr, nullptr, nullptr, ss), RTERROR);
  SetGuard all;
  ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, &ok, all.ss), RTNORM);
  all.open = true;
  std::vector<AcDbObjectId> refs = Members(all.ss);
  ASSERT_GE(refs.size(), 2u);
  sheetwise::host::SetPickFirst({refs[0], refs[1]});
  SetGuard picked;
  ASSERT_EQ(acedSSGet(L"_I", nullptr, nullptr, nullptr, picked.ss), RTNORM);
  picked.open = true;
  EXPECT_EQ(Members(picked.ss), (std::vector<AcDbObjectId>{refs[0], refs[1]}));
  sheetwise::host::SetPickFirst({});
}

TEST(AcedSSGet, SetsAndEntityNamesAreCheckedAndLimited) {
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(Sample("attributes_r2010.dxf").wstring().c_str()), Acad::eOk);
  Working working(&db);
  ads_name ss;
  ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, nullptr, ss), RTNORM);
  Adesk::Int32 n = Length(ss);
  ads_name ent;
  EXPECT_EQ(acedSSName(ss, n, ent), RTERROR);
  EXPECT_EQ(acedSSName(ss, -1, ent), RTERROR);
  ASSERT_EQ(acedSSName(ss, 0, ent), RTNORM);
  EXPECT_EQ(acedSSMemb(ent, ss), RTNORM);
  // Entity names round-trip, sets and entities are not mistaken for each other.
  AcDbObjectId id;
  ASSERT_EQ(acdbGetObjectId(id, ent), Acad::eOk);
  ads_name again;
  acdbGetAdsName(again, id);
  EXPECT_EQ(again[0], ent[0]);
  EXPECT_EQ(again[1], ent[1]);
  EXPECT_EQ(acdbGetObjectId(id, ss), Acad::eInvalidInput);
  EXPECT_EQ(acedSSLength(ent, &n), RTERROR);
  ads_name garbage{12345, 678};
  EXPECT_EQ(acedSSLength(garbage, &n), RTERROR);
  EXPECT_EQ(acdbGetObjectId(id, garbage), Acad::eInvalidInput);
  ads_name null_name{0, 0};
  EXPECT_EQ(acdbGetObjectId(id, null_name), Acad::eOk);
  EXPECT_TRUE(id.isNull());
  // Building a set by hand.
  ads_name built;
  ASSERT_EQ(acedSSAdd(nullptr, nullptr, built), RTNORM);
  EXPECT_EQ(Length(built), 0);
  ads_name same;
  ASSERT_EQ(acedSSAdd(ent, built, same), RTNORM);
  ASSERT_EQ(acedSSAdd(ent, built, same), RTNORM);
  EXPECT_EQ(Length(built), 1) << "no duplicates";
  EXPECT_EQ(acedSSFree(built), RTNORM);
  EXPECT_EQ(acedSSFree(ss), RTNORM);
  EXPECT_EQ(acedSSFree(ss), RTERROR) << "freed twice";
  EXPECT_EQ(acedSSLength(ss, &n), RTERROR);
  // The host keeps at most 128 sets open.
  std::vector<std::array<std::intptr_t, 2>> sets;
  int rc = RTNORM;
  while (sets.size() < 200 && rc == RTNORM) {
    ads_name s;
    rc = acedSSGet(L"_L", nullptr, nullptr, nullptr, s);
    if (rc == RTNORM) sets.push_back({s[0], s[1]});
  }
  EXPECT_EQ(sets.size(), 128u);
  EXPECT_EQ(rc, RTERROR);
  for (auto& s : sets) {
    ads_name name{s[0], s[1]};
    EXPECT_EQ(acedSSFree(name), RTNORM);
  }
  // A drawing that goes takes its sets, its previous set and its pick-first set along.
  ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, nullptr, ss), RTNORM);
  ASSERT_EQ(acedSSName(ss, 0, ent), RTNORM);
  ASSERT_EQ(acdbGetObjectId(id, ent), Acad::eOk);
  sheetwise::host::SetPickFirst({id});
  sheetwise::host::ForgetDatabase(&db);
  EXPECT_EQ(acedSSLength(ss, &n), RTERROR);
  ads_name after;
  EXPECT_EQ(acedSSGet(L"_P", nullptr, nullptr, nullptr, after), RTERROR);
  EXPECT_EQ(acedSSGet(L"_I", nullptr, nullptr, nullptr, after), RTERROR);
}

// The entity with the highest handle in model space and the paper spaces.
AcDbObjectId HighestHandle() {
  ads_name ss;
  EXPECT_EQ(acedSSGet(L"_X", nullptr, nullptr, nullptr, ss), RTNORM);
  AcDbObjectId best;
  for (AcDbObjectId id : Members(ss))
    if (best.isNull() || id.handle() > best.handle()) best = id;
  acedSSFree(ss);
  return best;
}

TEST(AcedSSGet, InteractiveSelectionReadsLinesAndReportsAsTheHost) {
  fs::path path = Corpus("acad_AC1015_example_2000.dxf");
  if (!fs::exists(path)) GTEST_SKIP() << "corpus file missing: " << path;
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(path.wstring().c_str()), Acad::eOk);
  Working working(&db);
  resbuf inserts = Group(0, L"INSERT");
  ads_name all_refs;
  ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, &inserts, all_refs), RTNORM);
  std::vector<AcDbObjectId> refs = Members(all_refs);
  acedSSFree(all_refs);
  ASSERT_EQ(refs.size(), 10u);
  ads_name everything;
  ASSERT_EQ(acedSSGet(L"_X", nullptr, nullptr, nullptr, everything), RTNORM);
  const Adesk::Int32 total = Length(everything);
  acedSSFree(everything);
  ASSERT_GT(total, 10);

  const std::wstring h0 = refs[0].handle().text();
  const std::wstring h1 = refs[1].handle().text();
  {
    // ALL, then remove one by handle, add it back, a duplicate, an unknown input.
    Console console({L"all", L"R", h0, L"a", h0 + L" " + h1, L"bogus input", L""});
    ads_name ss;
    ASSERT_EQ(acedSSGet(nullptr, nullptr, nullptr, &inserts, ss), RTNORM);
    const std::wstring t = std::to_wstring(total);
    const std::wstring expected = L"Select objects: " + t + L" found\n" +  // all
                                  L"Select objects: " +                    // R
                                  L"Remove objects: 1 found, 1 removed, " +
                                  std::to_wstring(total - 1) +  //
                                  L" total\n" +                 //
                                  L"Remove objects: " +         // A
                                  L"Select objects: 2 found (1 duplicate), " + t + L" total\n" +  //
                                  L"Select objects: *Invalid selection*\n";
    EXPECT_TRUE(console.out.starts_with(expected)) << console.out;
    EXPECT_TRUE(console.out.ends_with(L"Select objects: ")) << console.out;
    EXPECT_EQ(Length(ss), 10) << "the filter keeps the block references";
    acedSSFree(ss);
  }
  {
    // BLOCK and LAYER lines, then "P" brings back the previous set.
    Console console({L"BLOCK *", L""});
    ads_name ss;
    ASSERT_EQ(acedSSGet(nullptr, nullptr, nullptr, nullptr, ss), RTNORM);
    EXPECT_EQ(console.out, L"Select objects: 10 found\nSelect objects: ");
    acedSSFree(ss);
    Console previous({L"p", L""});
    ASSERT_EQ(acedSSGet(nullptr, nullptr, nullptr, nullptr, ss), RTNORM);
    EXPECT_EQ(Length(ss), 10);
    acedSSFree(ss);
  }
  {
    // L is the entity created last: the highest handle.
    AcDbObjectId last = HighestHandle();
    Console console({L"L", L""});
    ads_name ss;
    ASSERT_EQ(acedSSGet(nullptr, nullptr, nullptr, nullptr, ss), RTNORM);
    EXPECT_EQ(Members(ss), std::vector<AcDbObjectId>{last});
    acedSSFree(ss);
  }
  {
    // A window around one reference's insertion point, corners in either order.
    AcDbBlockReference* ref = nullptr;
    ASSERT_EQ(acdbOpenObject(ref, refs[3], AcDb::kForRead), Acad::eOk);
    AcGePoint3d p = ref->position();
    ref->close();
    wchar_t line[200];
    std::swprintf(line, 200, L"W %.6f,%.6f %.6f,%.6f", p.x + 1e-3, p.y + 1e-3, p.x - 1e-3,
                  p.y - 1e-3);
    Console console({line, L""});
    ads_name ss;
    ASSERT_EQ(acedSSGet(nullptr, nullptr, nullptr, &inserts, ss), RTNORM);
    std::vector<AcDbObjectId> got = Members(ss);
    EXPECT_NE(std::find(got.begin(), got.end(), refs[3]), got.end());
    acedSSFree(ss);
    // The same window given as points.
    ads_point a{p.x - 1e-3, p.y - 1e-3, 0}, b{p.x + 1e-3, p.y + 1e-3, 0};
    ASSERT_EQ(acedSSGet(L"_W", a, b, &inserts, ss), RTNORM);
    EXPECT_EQ(Members(ss), got);
    acedSSFree(ss);
    ads_point far1{1e9, 1e9, 0}, far2{1e9 + 1, 1e9 + 1, 0};
    EXPECT_EQ(acedSSGet(L"_W", far1, far2, nullptr, ss), RTERROR);
  }
  {
    // Cancel and end of input give no set; nothing selected gives RTERROR.
    for (std::vector<std::wstring> lines :
         {std::vector<std::wstring>{L"all", L"\x1b"}, std::vector<std::wstring>{L"all"}}) {
      Console console(lines);
      ads_name ss{0, 0};
      EXPECT_EQ(acedSSGet(nullptr, nullptr, nullptr, nullptr, ss), RTCAN);
      EXPECT_EQ(ss[0], 0);
    }
    Console console({L"LAYER no-such-layer", L""});
    ads_name ss{0, 0};
    EXPECT_EQ(acedSSGet(nullptr, nullptr, nullptr, nullptr, ss), RTERROR);
    EXPECT_EQ(console.out, L"Select objects: 0 found\nSelect objects: ");
  }
}

TEST(AcutWcMatch, MatchesAsTheHostsWildcards) {
  struct Row {
    const wchar_t* text;
    const wchar_t* pattern;
    bool match;
  };
  const Row rows[] = {
      {L"TITLE_A1", L"title*", true},
      {L"TITLE_A1", L"*A?", true},
      {L"Door12", L"Door##", true},
      {L"x", L"@", true},
      {L"-", L".", true},
      {L"*U12", L"`*U*", true},
      {L"BLOCK", L"~`*U*", true},
      {L"*U3", L"~`*U*", false},
      {L"LINE", L"INSERT,LINE", true},
      {L"Bx", L"[ab]x", true},
      {L"cx", L"[~ab]x", true},
      {L"Äpfel", L"äpf*", true},
      {L"", L"*", true},
      {L"", L"?", false},
      {L"a,b", L"a`,b", true},
      {L"aaaaaaaaaaaaaaaaaaaaaaab", L"*a*a*a*a*a*a*c", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(acutWcMatch(r.text, r.pattern) == RTNORM, r.match)
        << "\"" << r.text << "\" ~ \"" << r.pattern << "\"";
  EXPECT_EQ(acutWcMatch(nullptr, L"*"), RTERROR);
}

}  // namespace
