// The drawing database over real drawings: loading, counts, edits saved back, open rules,
// dynamic blocks, attribute placement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/dbapserv.h"
#include "platform/host/dbdynblk.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/codepage.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace fs = std::filesystem;

namespace {

fs::path Corpus(const std::string& name) {
  return fs::path(SW_SHARED_DIR) / "corpus" / "dxf" / name;
}

#define REQUIRE_FILE(path) \
  if (!fs::exists(path)) GTEST_SKIP() << "corpus file missing: " << (path)

std::wstring W(const fs::path& p) {
  return p.wstring();
}

// Takes a text the host allocated (tag(), layer() ...) and frees the buffer.
std::wstring Take(ACHAR* text) {
  std::wstring out = text != nullptr ? text : L"";
  acutDelBuffer(text);
  return out;
}

AcDbObjectIdArray BlockRecords(AcDbDatabase& db) {
  AcDbBlockTable* table = nullptr;
  EXPECT_EQ(db.getSymbolTable(table, AcDb::kForRead), Acad::eOk);
  AcDbObjectIdArray ids = table->recordIds();
  table->close();
  return ids;
}

AcDbObjectId ModelSpace(AcDbDatabase& db) {
  AcDbBlockTable* table = nullptr;
  db.getSymbolTable(table, AcDb::kForRead);
  AcDbObjectId id;
  EXPECT_EQ(table->getAt(L"*MODEL_SPACE", id), Acad::eOk);
  table->close();
  return id;
}

// Calls `fn` with each entity of a block record, open for read.
template <typename Fn>
void ForEachEntity(AcDbObjectId record_id, Fn&& fn) {
  AcDbBlockTableRecord* record = nullptr;
  ASSERT_EQ(acdbOpenObject(record, record_id, AcDb::kForRead), Acad::eOk);
  AcDbBlockTableRecordIterator* it = nullptr;
  record->newIterator(it);
  for (; !it->done(); it->step()) {
    AcDbEntity* e = nullptr;
    EXPECT_EQ(it->getEntity(e, AcDb::kForRead), Acad::eOk);
    fn(e);
    e->close();
  }
  delete it;
  record->close();
}

AcDbObjectIdArray AttributeIds(const AcDbBlockReference* ref) {
  AcDbObjectIdArray ids;
  AcDbObjectIterator* it = ref->attributeIterator();
  for (; !it->done(); it->step()) ids.append(it->objectId());
  delete it;
  return ids;
}

struct Counts {
  int inserts = 0;
  int attribs = 0;
  int attdefs = 0;
};

// Counts over every block record (model space, layouts, block definitions).
Counts CountAll(AcDbDatabase& db) {
  Counts c;
  for (AcDbObjectId record : BlockRecords(db)) {
    ForEachEntity(record, [&](AcDbEntity* entity) {
      if (auto* ref = AcDbBlockReference::cast(entity)) {
        ++c.inserts;
        c.attribs += AttributeIds(ref).length();
      } else if (AcDbAttributeDefinition::cast(entity) != nullptr) {
        ++c.attdefs;
      }
    });
  }
  return c;
}

// The model-space references that have attributes.
AcDbObjectIdArray ReferencesWithAttributes(AcDbDatabase& db) {
  AcDbObjectIdArray found;
  ForEachEntity(ModelSpace(db), [&](AcDbEntity* e) {
    if (auto* ref = AcDbBlockReference::cast(e); ref && !AttributeIds(ref).isEmpty())
      found.append(ref->objectId());
  });
  return found;
}

AcDbObjectId FirstReferenceWithAttributes(AcDbDatabase& db) {
  AcDbObjectIdArray refs = ReferencesWithAttributes(db);
  return refs.isEmpty() ? AcDbObjectId() : refs[0];
}

std::vector<std::string> Lines(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Values are compared without the group-code padding.
    std::size_t first = line.find_first_not_of(' ');
    out.push_back(first == std::string::npos ? line : line.substr(first));
  }
  return out;
}

using TempFolder = dxf_test::TempDir;

std::vector<std::wstring> LayerNames(AcDbDatabase& db) {
  std::vector<std::wstring> names;
  AcDbLayerTable* layers = nullptr;
  EXPECT_EQ(db.getSymbolTable(layers, AcDb::kForRead), Acad::eOk);
  for (AcDbObjectId id : layers->recordIds()) {
    AcDbLayerTableRecord* layer = nullptr;
    EXPECT_EQ(acdbOpenObject(layer, id, AcDb::kForRead), Acad::eOk);
    AcString name;
    layer->getName(name);
    names.push_back(name.str());
    layer->close();
  }
  layers->close();
  return names;
}

std::string Narrow(const std::wstring& text) {
  return WideToUtf8(text);
}

std::string HandleText(AcDbHandle handle) {
  return Narrow(handle.text());
}

// What ezdxf (the independent reader) sees in `file`: "key<TAB>value" lines of
// ezdxf_probe.py, for the objects with `handles`.
std::map<std::string, std::string> Probe(const fs::path& file,
                                         const std::vector<std::string>& handles = {}) {
  fs::path script = fs::path(__FILE__).parent_path() / "ezdxf_probe.py";
  std::string command = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
  for (const std::string& h : handles) command += " " + h;
  std::string output;
  EXPECT_EQ(dxf_test::Run(command + " 2>&1", &output), 0) << output;
  std::map<std::string, std::string> seen;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t tab = line.find('\t');
    if (tab != std::string::npos) seen[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return seen;
}

// The record of `handle` in an ASCII file as "code=value" items (values trimmed).
std::vector<std::string> RecordTags(const fs::path& file, const std::string& handle) {
  std::vector<std::string> lines = Lines(file);
  for (std::size_t i = 0; i + 3 < lines.size(); i += 2) {
    if (lines[i] != "0" || lines[i + 2] != "5" || lines[i + 3] != handle) continue;
    std::vector<std::string> tags = {"0=" + lines[i + 1]};
    for (std::size_t j = i + 2; j + 1 < lines.size() && lines[j] != "0"; j += 2)
      tags.push_back(lines[j] + "=" + lines[j + 1]);
    return tags;
  }
  return {};
}

// A model-space reference whose block defines a (not constant) attribute the reference lacks,
// and that definition. With `without_attributes`, one that has no attributes at all.
struct Missing {
  AcDbObjectId ref, def;
};
Missing FindMissingAttribute(AcDbDatabase& db, bool without_attributes) {
  Missing found;
  ForEachEntity(ModelSpace(db), [&](AcDbEntity* e) {
    auto* ref = AcDbBlockReference::cast(e);
    if (ref == nullptr || !found.ref.isNull()) return;
    std::vector<std::wstring> have;
    for (AcDbObjectId id : AttributeIds(ref)) {
      AcDbAttribute* a = nullptr;
      ref->openAttribute(a, id, AcDb::kForRead);
      have.push_back(Take(a->tag()));
      a->close();
    }
    if (without_attributes && !have.empty()) return;
    ForEachEntity(ref->blockTableRecord(), [&](AcDbEntity* d) {
      auto* def = AcDbAttributeDefinition::cast(d);
      if (def == nullptr || def->isConstant() || !found.ref.isNull()) return;
      if (std::find(have.begin(), have.end(), Take(def->tag())) == have.end())
        found = {ref->objectId(), def->objectId()};
    });
  });
  return found;
}

// Appends the definition's attribute to the reference as the host does for a missing one.
AcDbObjectId AppendFromDefinition(const Missing& m, const ACHAR* text) {
  AcDbBlockReference* ref = nullptr;
  EXPECT_EQ(acdbOpenObject(ref, m.ref, AcDb::kForWrite), Acad::eOk);
  AcDbAttributeDefinition* def = nullptr;
  EXPECT_EQ(acdbOpenObject(def, m.def, AcDb::kForRead), Acad::eOk);
  auto* att = new AcDbAttribute();
  EXPECT_EQ(att->setAttributeFromBlock(def, ref->blockTransform()), Acad::eOk);
  if (text != nullptr) {
    EXPECT_EQ(att->setTextString(text), Acad::eOk);
  }
  def->close();
  AcDbObjectId id;
  EXPECT_EQ(ref->appendAttribute(id, att), Acad::eOk);
  AcDbObjectId again;
  EXPECT_EQ(ref->appendAttribute(again, att), Acad::eAlreadyInDb);
  EXPECT_EQ(att->objectId(), id);
  EXPECT_EQ(att->close(), Acad::eOk);
  ref->close();
  return id;
}

std::string Format(double v) {
  if (std::abs(v) < 1e-12) v = 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

std::string FormatPoint(const AcGePoint3d& p) {
  return Format(p.x) + "," + Format(p.y) + "," + Format(p.z);
}

// The dynamic blocks of `db` and their anonymous variants; checks that each variant is an
// anonymous record whose references lead back to the dynamic block, and that other blocks
// refuse the question.
std::pair<int, int> DynamicBlocksAndVariants(AcDbDatabase& db) {
  int dynamic = 0, variants = 0;
  for (AcDbObjectId id : BlockRecords(db)) {
    AcDbDynBlockTableRecord dyn(id);
    AcDbObjectIdArray anonymous;
    if (!dyn.isDynamicBlock()) {
      EXPECT_EQ(dyn.getAnonymousBlockIds(anonymous), Acad::eNotApplicable);
      continue;
    }
    ++dynamic;
    EXPECT_EQ(dyn.getAnonymousBlockIds(anonymous), Acad::eOk);
    variants += anonymous.length();
    for (AcDbObjectId a : anonymous) {
      AcDbBlockTableRecord* r = nullptr;
      EXPECT_EQ(acdbOpenObject(r, a, AcDb::kForRead), Acad::eOk);
      if (r == nullptr) continue;
      EXPECT_TRUE(r->isAnonymous());
      AcDbObjectIdArray refs;
      r->getBlockReferenceIds(refs);
      r->close();
      for (AcDbObjectId ref : refs) {
        EXPECT_TRUE(AcDbDynBlockReference::isDynamicBlock(ref));
        EXPECT_EQ(AcDbDynBlockReference(ref).dynamicBlockTableRecord(), id);
      }
    }
  }
  return {dynamic, variants};
}

}  // namespace

TEST(AcDbDatabase, LoadsEveryCorpusDrawingWithEzdxfsCounts) {
  // INSERT / ATTRIB / ATTDEF totals over all blocks and layouts, from MANIFEST.md (ezdxf 0.18.1).
  const std::map<std::string, Counts> counts = {
      {"acad_AC1018_A_000217.dxf", {616, 197, 14}},
      {"acad_AC1032_dynblk0.dxf", {22, 4, 5}},
      {"qcad-teigha_AC1027_visibility3.dxf", {32, 14, 1}},
      {"ezdxf_AC1027_multi_insert_with_attribs.dxf", {1, 3, 3}},
  };
  fs::path folder = Corpus("");
  if (!fs::exists(folder)) GTEST_SKIP() << "no corpus";
  int loaded = 0, counted = 0;
  for (const fs::path& path : dxf_test::DxfFiles(folder)) {
    SCOPED_TRACE(path.string());
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk) << fs::path(db.lastErrorText());
    EXPECT_FALSE(ModelSpace(db).isNull());
    std::vector<std::wstring> layers = LayerNames(db);
    EXPECT_NE(std::find(layers.begin(), layers.end(), L"0"), layers.end());
    Counts c = CountAll(db);
    ++loaded;
    auto want = counts.find(path.filename().string());
    if (want == counts.end()) continue;
    ++counted;
    EXPECT_EQ(c.inserts, want->second.inserts);
    EXPECT_EQ(c.attribs, want->second.attribs);
    EXPECT_EQ(c.attdefs, want->second.attdefs);
  }
  EXPECT_EQ(loaded, 23);
  EXPECT_EQ(counted, 4);
}

TEST(AcDbDatabase, HeaderVariablesAndErrors) {
  AcDbDatabase fresh;
  EXPECT_EQ(fresh.setLunits(9), Acad::eInvalidInput);

  AcDbDatabase db(false, true);
  EXPECT_EQ(db.dxfIn(L"/nonexistent/site.dxf"), Acad::eFileNotFound);
  EXPECT_NE(db.lastErrorText().find(L"site.dxf"), std::wstring::npos);
  TempFolder tmp;
  fs::path bad = tmp.path() / "bad.dxf";
  std::ofstream(bad) << "0\nSECTION\n2\nENTITIES\n0\nLINE\nabc\n";
  EXPECT_EQ(db.dxfIn(W(bad).c_str()), Acad::eBadDxfSequence);
  EXPECT_NE(db.lastErrorText().find(L"bad.dxf"), std::wstring::npos);
  fs::path dwg = tmp.path() / "plan.dxf";
  std::ofstream(dwg) << "AC1032\0\0\0garbage";
  EXPECT_EQ(db.dxfIn(W(dwg).c_str()), Acad::eInvalidInput);
  EXPECT_NE(db.lastErrorText().find(L"DXF"), std::wstring::npos);
}

TEST(AcDbDatabase, OpenRulesAndHandles) {
  fs::path path = Corpus("acad_AC1024_gh209_1.dxf");
  REQUIRE_FILE(path);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);
  acdbHostApplicationServices()->setWorkingDatabase(&db);
  AcDbObjectId id = FirstReferenceWithAttributes(db);
  ASSERT_FALSE(id.isNull());

  // Handle text round trip, and lookups of wrong handles.
  ACHAR text[17];
  id.handle().getIntoAsciiBuffer(text, 17);
  AcDbObjectId again;
  EXPECT_EQ(acdbGetObjectId(again, nullptr, AcDbHandle(text)), Acad::eOk);
  EXPECT_EQ(again, id);
  EXPECT_EQ(acdbGetObjectId(again, nullptr, AcDbHandle(L"zz")), Acad::eNullHandle);
  EXPECT_EQ(acdbGetObjectId(again, nullptr, AcDbHandle(L"FFFFFFF")), Acad::eUnknownHandle);
  AcDbHandle parsed;
  EXPECT_FALSE(AcDbHandle::fromText(L"12G", parsed));
  EXPECT_FALSE(AcDbHandle::fromText(L"", parsed));
  EXPECT_FALSE(AcDbHandle::fromText(L"12345678901234567", parsed));
  EXPECT_TRUE(AcDbHandle::fromText(L" 2d2 ", parsed));
  EXPECT_EQ(parsed.text(), L"2D2");

  AcDbObject* null_open = nullptr;
  EXPECT_EQ(acdbOpenAcDbObject(null_open, AcDbObjectId(), AcDb::kForRead), Acad::eNullObjectId);

  // Read, read, write refused; write, second write refused; close ends it.
  AcDbBlockReference* r1 = nullptr;
  AcDbBlockReference* r2 = nullptr;
  AcDbBlockReference* w = nullptr;
  ASSERT_EQ(acdbOpenObject(r1, id, AcDb::kForRead), Acad::eOk);
  ASSERT_EQ(acdbOpenObject(r2, id, AcDb::kForRead), Acad::eOk);
  EXPECT_EQ(acdbOpenObject(w, id, AcDb::kForWrite), Acad::eWasOpenForRead);
  EXPECT_EQ(r1->setRotation(1), Acad::eNotOpenForWrite);
  EXPECT_EQ(r1->close(), Acad::eOk);
  EXPECT_EQ(r2->close(), Acad::eOk);
  EXPECT_EQ(r2->close(), Acad::eInvalidOpenState);
  ASSERT_EQ(acdbOpenObject(w, id, AcDb::kForWrite), Acad::eOk);
  AcDbBlockReference* w2 = nullptr;
  EXPECT_EQ(acdbOpenObject(w2, id, AcDb::kForWrite), Acad::eWasOpenForWrite);
  EXPECT_EQ(acdbOpenObject(w2, id, AcDb::kForRead), Acad::eWasOpenForWrite);
  EXPECT_EQ(w2, nullptr);
  AcDbLayerTableRecord* wrong = nullptr;
  w->close();
  EXPECT_EQ(acdbOpenObject(wrong, id, AcDb::kForRead), Acad::eNotThatKindOfClass);

  // Erase: the reference and its attributes can no longer be opened.
  ASSERT_EQ(acdbOpenObject(w, id, AcDb::kForWrite), Acad::eOk);
  AcDbObjectIdArray atts = AttributeIds(w);
  EXPECT_EQ(w->erase(), Acad::eOk);
  w->close();
  EXPECT_TRUE(id.isErased());
  EXPECT_EQ(acdbOpenObject(r1, id, AcDb::kForRead), Acad::eWasErased);
  EXPECT_EQ(r1, nullptr);
  ASSERT_FALSE(atts.isEmpty());
  AcDbAttribute* att = nullptr;
  EXPECT_EQ(acdbOpenObject(att, atts[0], AcDb::kForRead), Acad::eWasErased);
  EXPECT_EQ(acdbOpenObject(r1, id, AcDb::kForRead, true), Acad::eOk);
  r1->close();
  acdbHostApplicationServices()->setWorkingDatabase(nullptr);
}

TEST(AcDbDatabase, EditSavedChangesOnlyTheEditedEntities) {
  fs::path source = Corpus("acad_AC1024_gh209_1.dxf");
  REQUIRE_FILE(source);
  TempFolder tmp;
  fs::path copy = tmp.path() / "site.dxf";
  fs::copy_file(source, copy);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(copy).c_str()), Acad::eOk);
  AcDbObjectId id = FirstReferenceWithAttributes(db);
  ASSERT_FALSE(id.isNull());
  AcDbHandle handle = id.handle();

  std::wstring new_layer, tag;
  {
    AcDbBlockReference* ref = nullptr;
    ASSERT_EQ(acdbOpenObject(ref, id, AcDb::kForWrite), Acad::eOk);
    // Another layer than the reference's own.
    AcString old_layer(Take(ref->layer()));
    for (const std::wstring& name : LayerNames(db))
      if (new_layer.empty() && old_layer.compareNoCase(name.c_str()) != 0) new_layer = name;
    ASSERT_FALSE(new_layer.empty());
    EXPECT_EQ(ref->setPosition(AcGePoint3d(12.5, -3.25, 0)), Acad::eOk);
    EXPECT_EQ(ref->setRotation(std::numbers::pi / 6), Acad::eOk);
    EXPECT_EQ(ref->setScaleFactors(AcGeScale3d(2, 3, 1)), Acad::eOk);
    EXPECT_EQ(ref->setScaleFactors(AcGeScale3d(0, 1, 1)), Acad::eInvalidInput);
    EXPECT_EQ(ref->setLayer(L"no such layer"), Acad::eKeyNotFound);
    EXPECT_EQ(ref->setLayer(new_layer.c_str()), Acad::eOk);
    AcDbAttribute* att = nullptr;
    ASSERT_EQ(ref->openAttribute(att, AttributeIds(ref)[0], AcDb::kForWrite), Acad::eOk);
    tag = Take(att->tag());
    EXPECT_EQ(att->setTextString(L"Größe 42"), Acad::eOk);
    EXPECT_EQ(att->setTextString(L"two\nlines"), Acad::eInvalidInput);
    att->close();
    ref->close();
  }
  ASSERT_EQ(db.saveAs(W(copy).c_str()), Acad::eOk) << fs::path(db.lastErrorText());
  EXPECT_TRUE(fs::exists(tmp.path() / "site.dxf.bak") || fs::exists(tmp.path() / "site.bak"));

  AcDbDatabase reread(false, true);
  ASSERT_EQ(reread.dxfIn(W(copy).c_str()), Acad::eOk);
  AcDbObjectId id2;
  ASSERT_EQ(reread.getAcDbObjectId(id2, false, handle), Acad::eOk);
  AcDbBlockReference* ref = nullptr;
  ASSERT_EQ(acdbOpenObject(ref, id2, AcDb::kForRead), Acad::eOk);
  EXPECT_TRUE(ref->position().isEqualTo(AcGePoint3d(12.5, -3.25, 0)));
  EXPECT_NEAR(ref->rotation(), std::numbers::pi / 6, 1e-12);
  EXPECT_TRUE(ref->scaleFactors().isEqualTo(AcGeScale3d(2, 3, 1)));
  EXPECT_EQ(Take(ref->layer()), new_layer);
  AcDbAttribute* att = nullptr;
  ASSERT_EQ(ref->openAttribute(att, AttributeIds(ref)[0], AcDb::kForRead), Acad::eOk);
  EXPECT_EQ(Take(att->textString()), L"Größe 42");
  EXPECT_EQ(Take(att->tag()), tag);
  att->close();
  ref->close();

  // Outside the edited records (the INSERT and its ATTRIBs, which stand together) the two
  // files are line for line the same.
  std::vector<std::string> before = Lines(source);
  std::vector<std::string> after = Lines(copy);
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
    ++tail;
  std::size_t changed_before = before.size() - head - tail;
  EXPECT_GT(changed_before, 0u);
  EXPECT_LT(changed_before, 120u) << "more than the reference and its attributes changed";
  std::string handle_text = HandleText(handle);
  // The first differing line is inside the edited INSERT: its handle comes shortly before.
  bool handle_near = false;
  for (std::size_t i = head >= 40 ? head - 40 : 0; i < head; ++i)
    handle_near = handle_near || before[i] == handle_text;
  EXPECT_TRUE(handle_near) << "first difference at line " << head + 1 << ": " << before[head];
}

TEST(AcDbDatabase, LayersAndLayouts) {
  fs::path path = Corpus("qcad-teigha_AC1027_flange.dxf");
  REQUIRE_FILE(path);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);
  AcDbLayoutManager* layouts = acdbHostApplicationServices()->layoutManager();
  AcArray<AcString> names = layouts->layoutNames(&db);
  ASSERT_GE(names.length(), 2);
  EXPECT_EQ(names[0].str(), L"Model");
  ACHAR* active = nullptr;
  ASSERT_EQ(layouts->getActiveLayoutName(active, true, &db), Acad::eOk);
  EXPECT_NE(Take(active), L"");
  // The one paper-space reference (MANIFEST.md) stands in the second layout's block,
  // *Paper_Space1 (found by reading the file): its layout is named by that record's LAYOUT.
  AcDbBlockTable* table = nullptr;
  db.getSymbolTable(table, AcDb::kForRead);
  AcDbObjectId paper, paper1, model;
  ASSERT_EQ(table->getAt(L"*paper_space", paper), Acad::eOk);
  ASSERT_EQ(table->getAt(L"*Paper_Space1", paper1), Acad::eOk);
  ASSERT_EQ(table->getAt(L"*Model_Space", model), Acad::eOk);
  table->close();
  EXPECT_EQ(layouts->layoutNameOfBlock(model).str(), L"Model");
  std::wstring layout0 = layouts->layoutNameOfBlock(paper).str();
  std::wstring layout1 = layouts->layoutNameOfBlock(paper1).str();
  EXPECT_NE(layout0, layout1);
  EXPECT_NE(layout1, L"Model");
  EXPECT_FALSE(layouts->findLayoutNamed(layout1.c_str(), &db).isNull());
  EXPECT_TRUE(layouts->findLayoutNamed(L"no such layout", &db).isNull());
  AcDbBlockTableRecord* record = nullptr;
  ASSERT_EQ(acdbOpenObject(record, paper1, AcDb::kForRead), Acad::eOk);
  EXPECT_TRUE(record->isLayout());
  record->close();
  int refs = 0;
  ForEachEntity(paper1, [&](AcDbEntity* e) {
    if (AcDbBlockReference::cast(e)) {
      ++refs;
      EXPECT_EQ(e->blockId(), paper1);
    }
  });
  EXPECT_EQ(refs, 1);
}

TEST(AcDbDynBlockTableRecord, FindsAnonymousVariants) {
  if (fs::path path = Corpus("acad_AC1032_dynblk0.dxf"); fs::exists(path)) {
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);
    // The drawing's own data (read with a short Python script over its tags): only block LETTER
    // has an ACAD_ENHANCEDBLOCK entry, and *U35 ... *U39 carry AcDbBlockRepBTag pointing at it
    // (MANIFEST.md's "dyn. defs 6" counts more loosely; its "*U reps 5" agrees).
    EXPECT_EQ(DynamicBlocksAndVariants(db), std::make_pair(1, 5));
  }
  fs::path tool = fs::path(SW_SHARED_DIR) / "tools" / "gen_drawing.py";
  if (!fs::exists(tool) || !fs::exists("/usr/bin/python3")) GTEST_SKIP() << "no generator";
  TempFolder tmp;
  fs::path out = tmp.path() / "gen.dxf";
  ASSERT_EQ(dxf_test::Run("/usr/bin/python3 " + tool.string() +
                          " --refs 30 --blocks 4 --dynamic 2 --seed 7 " + out.string()),
            0);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(out).c_str()), Acad::eOk);
  // gen_drawing.py --help: each dynamic block gets two anonymous *U variants.
  EXPECT_EQ(DynamicBlocksAndVariants(db), std::make_pair(2, 4));
}

namespace {

// Every block's references, direct and nested, agree with a plain walk over all entities, and
// an erased reference drops out of the next answer (the answers come from an index that must
// follow edits). A production sheet set with 638 references, and a drawing whose blocks hold
// references of other blocks and are themselves inserted.
void CheckBlockReferenceIds(const fs::path& path, bool has_nested) {
  SCOPED_TRACE(path.filename().string());
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);

  // The walk: each reference with the record it names and the record it stands in.
  std::multimap<AcDbObjectId, std::pair<AcDbObjectId, AcDbObjectId>> by_block;
  const AcDbObjectIdArray records = BlockRecords(db);
  for (AcDbObjectId owner : records)
    ForEachEntity(owner, [&](AcDbEntity* e) {
      if (auto* ref = AcDbBlockReference::cast(e))
        by_block.emplace(ref->blockTableRecord(), std::make_pair(ref->objectId(), owner));
    });
  auto direct = [&](AcDbObjectId block) {
    std::vector<AcDbObjectId> ids;
    for (auto [it, end] = by_block.equal_range(block); it != end; ++it)
      ids.push_back(it->second.first);
    return ids;
  };
  auto answer = [&](AcDbObjectId block, bool direct_only) {
    AcDbBlockTableRecord* record = nullptr;
    EXPECT_EQ(acdbOpenObject(record, block, AcDb::kForRead), Acad::eOk);
    AcDbObjectIdArray ids;
    EXPECT_EQ(record->getBlockReferenceIds(ids, direct_only), Acad::eOk);
    record->close();
    std::vector<AcDbObjectId> out(ids.begin(), ids.end());
    std::sort(out.begin(), out.end());
    return out;
  };

  int nested_seen = 0;
  AcDbObjectId busiest;
  std::size_t most = 0;
  for (AcDbObjectId block : records) {
    std::vector<AcDbObjectId> want = direct(block);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(answer(block, true), want);
    // Nested: the references of every block holding one already found, to any depth.
    std::vector<AcDbObjectId> holders = {block};
    for (std::size_t i = 0; i < holders.size(); ++i)
      for (auto [it, end] = by_block.equal_range(holders[i]); it != end; ++it) {
        const AcDbObjectId owner = it->second.second;
        if (std::find(holders.begin(), holders.end(), owner) == holders.end())
          holders.push_back(owner);
      }
    std::vector<AcDbObjectId> all;
    for (AcDbObjectId holder : holders)
      for (AcDbObjectId id : direct(holder))
        if (std::find(all.begin(), all.end(), id) == all.end()) all.push_back(id);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(answer(block, false), all);
    nested_seen += static_cast<int>(all.size() - want.size());
    if (want.size() > most) {
      busiest = block;
      most = want.size();
    }
  }
  EXPECT_EQ(nested_seen > 0, has_nested);

  const std::vector<AcDbObjectId> before = answer(busiest, true);
  ASSERT_GE(before.size(), 2u);
  AcDbObject* victim = nullptr;
  ASSERT_EQ(acdbOpenAcDbObject(victim, before.front(), AcDb::kForWrite), Acad::eOk);
  ASSERT_EQ(victim->erase(), Acad::eOk);
  victim->close();
  EXPECT_EQ(answer(busiest, true), std::vector<AcDbObjectId>(before.begin() + 1, before.end()));
}

}  // namespace

TEST(AcDbBlockTableRecord, BlockReferenceIdsFollowTheDrawing) {
  for (const auto& [name, has_nested] :
       {std::pair{"acad_AC1027_api-cw750-details.dxf", false}, {"acad_AC1032_dynblk0.dxf", true}}) {
    const fs::path path = Corpus(name);
    REQUIRE_FILE(path);
    CheckBlockReferenceIds(path, has_nested);
  }
}

TEST(AcDbAttribute, SetAttributeFromBlockPlacesTheDefinition) {
  fs::path path = Corpus("acad_AC1024_gh209_1.dxf");
  REQUIRE_FILE(path);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);
  AcDbBlockReference* ref = nullptr;
  ASSERT_EQ(acdbOpenObject(ref, FirstReferenceWithAttributes(db), AcDb::kForRead), Acad::eOk);
  AcDbObjectId att_id = AttributeIds(ref)[0];
  AcDbObjectId block_id = ref->blockTableRecord();
  ref->close();
  // The block's first attribute definition, set to known values.
  AcDbObjectId def_id;
  ForEachEntity(block_id, [&](AcDbEntity* e) {
    if (def_id.isNull() && AcDbAttributeDefinition::cast(e)) def_id = e->objectId();
  });
  ASSERT_FALSE(def_id.isNull());
  AcDbBlockTableRecord* block = nullptr;
  ASSERT_EQ(acdbOpenObject(block, block_id, AcDb::kForRead), Acad::eOk);
  // Definition values are in block coordinates; the rows' transforms act on them after the
  // block's base point is taken off, as blockTransform does.
  const AcGeMatrix3d from_block = AcGeMatrix3d::translation(block->origin().asVector());
  block->close();

  struct Row {
    const char* what;
    AcGeMatrix3d transform;
    bool centered;
    AcGePoint3d position, alignment;
    double height, rotation, width;
    bool mirrored;
  };
  const double kHalfPi = std::numbers::pi / 2;
  const AcGeMatrix3d move = AcGeMatrix3d::translation({10, 20, 0});
  const AcGeMatrix3d turn = AcGeMatrix3d::rotation(kHalfPi, AcGeVector3d::kZAxis);
  const AcGeMatrix3d all = AcGeMatrix3d::translation({5, 5, 0}) * turn * AcGeMatrix3d::scaling(2);
  AcGeMatrix3d scale23;
  AcGeScale3d(2, 3, 1).getMatrix(scale23);
  AcGeMatrix3d mirror_x;
  AcGeScale3d(-1, 1, 1).getMatrix(mirror_x);
  // Expected values worked out by hand: the definition stands at (1, 2, 0) (alignment point
  // (3, 2, 0) when centred), height 2.5, rotation 0, width factor 1.
  Row rows[] = {
      {"move, centred", move, true, {11, 22, 0}, {13, 22, 0}, 2.5, 0, 1, false},
      {"rotate 90", turn, false, {-2, 1, 0}, {-2, 1, 0}, 2.5, kHalfPi, 1, false},
      {"scale 2,3", scale23, false, {2, 6, 0}, {2, 6, 0}, 7.5, 0, 2.0 / 3.0, false},
      {"mirror x", mirror_x, true, {-1, 2, 0}, {-3, 2, 0}, 2.5, 0, 1, true},
      {"move rotate scale", all, false, {1, 7, 0}, {1, 7, 0}, 5, kHalfPi, 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    AcDbAttributeDefinition* def = nullptr;
    ASSERT_EQ(acdbOpenObject(def, def_id, AcDb::kForWrite), Acad::eOk);
    ASSERT_EQ(def->setPosition(AcGePoint3d(1, 2, 0).transformBy(from_block)), Acad::eOk);
    ASSERT_EQ(def->setHeight(2.5), Acad::eOk);
    ASSERT_EQ(def->setRotation(0), Acad::eOk);
    ASSERT_EQ(def->setWidthFactor(1), Acad::eOk);
    ASSERT_EQ(def->mirrorInX(false), Acad::eOk);
    ASSERT_EQ(def->setHorizontalMode(row.centered ? AcDb::kTextCenter : AcDb::kTextLeft),
              Acad::eOk);
    ASSERT_EQ(
        def->setAlignmentPoint(AcGePoint3d(row.centered ? 3 : 1, 2, 0).transformBy(from_block)),
        Acad::eOk);
    def->downgradeOpen();
    AcDbAttribute* att = nullptr;
    ASSERT_EQ(acdbOpenObject(att, att_id, AcDb::kForWrite), Acad::eOk);
    EXPECT_EQ(att->setAttributeFromBlock(def, row.transform * from_block.inverse()), Acad::eOk);
    EXPECT_TRUE(att->position().isEqualTo(row.position, 1e-9))
        << att->position().x << "," << att->position().y;
    EXPECT_TRUE(att->alignmentPoint().isEqualTo(row.alignment, 1e-9))
        << att->alignmentPoint().x << "," << att->alignmentPoint().y;
    EXPECT_NEAR(att->height(), row.height, 1e-9);
    EXPECT_NEAR(att->rotation(), row.rotation, 1e-9);
    EXPECT_NEAR(att->widthFactor(), row.width, 1e-9);
    EXPECT_EQ(att->isMirroredInX(), row.mirrored);
    EXPECT_EQ(att->horizontalMode(), row.centered ? AcDb::kTextCenter : AcDb::kTextLeft);
    EXPECT_EQ(Take(att->tag()), Take(def->tag()));
    EXPECT_EQ(att->setAttributeFromBlock(nullptr, row.transform), Acad::eNullObjectPointer);
    att->close();
    def->close();
  }
}

TEST(AcDbBlockReference, AppendAttributeWritesTheDrawingVersionsAttrib) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "no ezdxf";
  struct Row {
    fs::path file;
    bool without_attributes;  // the reference has none, so a SEQEND is made too
    bool strip_handles;       // an R12 drawing without $HANDLING
    bool subclasses, version_280, multi_line;
  } rows[] = {
      {dxf_test::SamplesDir() / "missing_attribs_r12.dxf", true, false, false, false, false},
      {dxf_test::SamplesDir() / "missing_attribs_r12.dxf", false, true, false, false, false},
      {dxf_test::SamplesDir() / "multiline_r2018.dxf", true, false, true, true, true},
      // AutoCAD's own files: AC1018 writes no AcDbAttribute version, AC1024 does.
      {Corpus("acad_AC1018_A_000217.dxf"), false, false, true, false, false},
      {Corpus("acad_AC1024_gh209_1.dxf"), false, false, true, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file.filename().string() + (row.strip_handles ? " without handles" : ""));
    if (!fs::exists(row.file)) continue;
    TempFolder tmp;
    fs::path copy = tmp.path() / "drawing.dxf";
    if (row.strip_handles) {
      // Every group 5 left out and $HANDLING 0: what an R12 program without handles writes.
      std::vector<std::string> lines = Lines(row.file);
      std::ofstream out(copy, std::ios::binary);
      for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        if (lines[i] == "5" || lines[i + 1] == "$HANDSEED") continue;
        bool handling = i >= 1 && lines[i - 1] == "$HANDLING";
        out << lines[i] << '\n' << (handling ? "0" : lines[i + 1]) << '\n';
      }
    } else {
      fs::copy_file(row.file, copy);
    }
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(W(copy).c_str()), Acad::eOk) << fs::path(db.lastErrorText());
    if (!row.without_attributes && FindMissingAttribute(db, false).ref.isNull()) {
      // Every reference is complete: take one attribute away, so that one is missing.
      AcDbBlockReference* ref = nullptr;
      ASSERT_EQ(acdbOpenObject(ref, FirstReferenceWithAttributes(db), AcDb::kForWrite), Acad::eOk);
      AcDbObjectIdArray atts = AttributeIds(ref);
      AcDbAttribute* att = nullptr;
      ASSERT_EQ(ref->openAttribute(att, atts[atts.length() - 1], AcDb::kForWrite), Acad::eOk);
      EXPECT_EQ(att->erase(), Acad::eOk);
      att->close();
      ref->close();
    }
    Missing missing = FindMissingAttribute(db, row.without_attributes);
    ASSERT_FALSE(missing.ref.isNull());
    auto original = Probe(copy);
    AcDbHandle seed = db.handseed();
    const bool handles = !row.strip_handles;
    const int attribs = CountAll(db).attribs;

    AcDbObjectId id = AppendFromDefinition(missing, row.multi_line ? nullptr : L"Größe 7");
    ASSERT_FALSE(id.isNull());
    EXPECT_EQ(id.handle().isNull(), !handles);
    if (handles) {
      EXPECT_EQ(id.handle(), seed);
      EXPECT_GT(db.handseed(), id.handle());
    }
    std::wstring tag;
    {
      AcDbAttribute* att = nullptr;
      ASSERT_EQ(acdbOpenObject(att, id, AcDb::kForRead), Acad::eOk);
      EXPECT_EQ(att->ownerId(), missing.ref);
      EXPECT_EQ(att->isMTextAttribute(), row.multi_line);
      tag = Take(att->tag());
      att->close();
    }
    ASSERT_EQ(db.saveAs(W(copy).c_str()), Acad::eOk) << fs::path(db.lastErrorText());

    // Read back by ourselves: the attribute belongs to its reference, under the same handle.
    AcDbDatabase reread(false, true);
    ASSERT_EQ(reread.dxfIn(W(copy).c_str()), Acad::eOk);
    AcDbObjectId ref2;
    AcDbHandle ref_handle = missing.ref.handle();
    if (handles) {
      ASSERT_EQ(reread.getAcDbObjectId(ref2, false, ref_handle), Acad::eOk);
      AcDbObjectId att2;
      ASSERT_EQ(reread.getAcDbObjectId(att2, false, id.handle()), Acad::eOk);
      AcDbAttribute* att = nullptr;
      ASSERT_EQ(acdbOpenObject(att, att2, AcDb::kForRead), Acad::eOk);
      EXPECT_EQ(att->ownerId(), ref2);
      AcString text;
      att->textString(text);
      EXPECT_EQ(text.str(), row.multi_line ? L"Checked by\\Pnobody yet" : L"Größe 7");
      att->close();
    }
    EXPECT_EQ(CountAll(reread).attribs, attribs + 1);
    if (!handles) continue;

    // The record as written, and as ezdxf reads it.
    std::string h = HandleText(id.handle());
    std::string r = HandleText(ref_handle);
    std::vector<std::string> tags = RecordTags(copy, h);
    auto has = [&](const std::string& item) {
      return std::find(tags.begin(), tags.end(), item) != tags.end();
    };
    ASSERT_FALSE(tags.empty());
    EXPECT_EQ(tags[0], "0=ATTRIB");
    EXPECT_EQ(has("330=" + r), row.subclasses);
    EXPECT_EQ(has("100=AcDbEntity"), row.subclasses);
    EXPECT_EQ(has("100=AcDbAttribute"), row.subclasses);
    EXPECT_TRUE(has("2=" + Narrow(tag)));
    auto subclass = std::find(tags.begin(), tags.end(), "100=AcDbAttribute");
    EXPECT_EQ(subclass != tags.end() && subclass + 1 != tags.end() && subclass[1] == "280=0",
              row.version_280);
    EXPECT_EQ(has("101=Embedded Object"), row.multi_line);
    std::vector<std::string> insert = RecordTags(copy, r);
    EXPECT_NE(std::find(insert.begin(), insert.end(), "66=1"), insert.end());

    auto seen = Probe(copy, {h, r});
    EXPECT_EQ(seen["seed_above"], "1");
    EXPECT_EQ(seen[h + ".type"], "ATTRIB");
    EXPECT_EQ(seen[h + ".tag"], Narrow(tag));
    EXPECT_NE(seen[r + ".attribs"].find(h + "=" + Narrow(tag)), std::string::npos)
        << seen[r + ".attribs"];
    if (row.without_attributes) {
      // The SEQEND made for it took the next handle.
      std::vector<std::string> end =
          RecordTags(copy, HandleText(AcDbHandle(id.handle().value() + 1)));
      ASSERT_FALSE(end.empty());
      EXPECT_EQ(end[0], "0=SEQEND");
      EXPECT_EQ(std::find(end.begin(), end.end(), "330=" + r) != end.end(), row.subclasses);
    }
    if (row.multi_line) {
      EXPECT_EQ(seen[h + ".mtext"], "Checked by\\Pnobody yet");
    } else {
      EXPECT_EQ(seen[h + ".text"], "Größe 7");
    }
    EXPECT_EQ(seen["audit"], original["audit"]) << "ezdxf's audit finds new errors";
  }
}

TEST(AcDbBlockReference, AppendAttributeRefusesBadInput) {
  fs::path path = dxf_test::SamplesDir() / "missing_attribs_r12.dxf";
  REQUIRE_FILE(path);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(path).c_str()), Acad::eOk);
  Missing missing = FindMissingAttribute(db, true);
  ASSERT_FALSE(missing.ref.isNull());
  AcDbObjectId existing = FirstReferenceWithAttributes(db);
  AcDbHandle seed = db.handseed();
  AcDbBlockReference* ref = nullptr;
  ASSERT_EQ(acdbOpenObject(ref, missing.ref, AcDb::kForRead), Acad::eOk);
  auto* att = new AcDbAttribute();
  AcDbObjectId id;
  EXPECT_EQ(ref->appendAttribute(id, att), Acad::eNotOpenForWrite);
  ASSERT_EQ(ref->upgradeOpen(), Acad::eOk);
  EXPECT_EQ(ref->appendAttribute(id, nullptr), Acad::eNullObjectPointer);
  EXPECT_EQ(ref->appendAttribute(id, att), Acad::eInvalidInput);  // no tag yet
  ASSERT_EQ(att->setTag(L"NUMBER"), Acad::eOk);
  ASSERT_EQ(att->setLayer(L"no such layer"), Acad::eOk);  // checked when appended
  EXPECT_EQ(ref->appendAttribute(id, att), Acad::eKeyNotFound);
  EXPECT_TRUE(id.isNull());
  EXPECT_EQ(db.handseed(), seed);
  EXPECT_FALSE(db.isModified());
  // An existing attribute cannot be appended again.
  AcDbBlockReference* other = nullptr;
  ASSERT_EQ(acdbOpenObject(other, existing, AcDb::kForRead), Acad::eOk);
  AcDbAttribute* resident = nullptr;
  ASSERT_EQ(other->openAttribute(resident, AttributeIds(other)[0], AcDb::kForRead), Acad::eOk);
  EXPECT_EQ(ref->appendAttribute(id, resident), Acad::eAlreadyInDb);
  resident->close();
  other->close();
  ref->close();
  delete att;  // never appended: its maker deletes it
}

TEST(AcDbAttribute, MultiLineTextReadAndWrittenInFull) {
  fs::path source = dxf_test::SamplesDir() / "multiline_r2018.dxf";
  REQUIRE_FILE(source);
  TempFolder tmp;
  fs::path copy = tmp.path() / "notes.dxf";
  fs::copy_file(source, copy);
  AcDbDatabase db(false, true);
  ASSERT_EQ(db.dxfIn(W(copy).c_str()), Acad::eOk);
  AcDbObjectId ref_id = FirstReferenceWithAttributes(db);
  ASSERT_FALSE(ref_id.isNull());
  AcDbBlockReference* ref = nullptr;
  ASSERT_EQ(acdbOpenObject(ref, ref_id, AcDb::kForRead), Acad::eOk);
  AcDbObjectId block_id = ref->blockTableRecord();
  AcDbObjectIdArray atts = AttributeIds(ref);
  ASSERT_GE(atts.length(), 2);
  AcDbObjectId remark = atts[0], number = atts[1];
  ref->close();

  // The definition's and the attribute's full texts (make_samples.py wrote them; the
  // attribute's is longer than one 250-character chunk).
  std::wstring long_line;
  for (int i = 0; i < 40; ++i) {
    wchar_t word[8];
    std::swprintf(word, 8, L"word%02d", i);
    long_line += (i > 0 ? L" " : L"") + std::wstring(word);
  }
  int multi_line_defs = 0;
  ForEachEntity(block_id, [&](AcDbEntity* e) {
    if (auto* def = AcDbAttributeDefinition::cast(e); def && def->isMTextAttributeDefinition()) {
      ++multi_line_defs;
      AcString text;
      def->textString(text);
      EXPECT_EQ(text.str(), L"Checked by\\Pnobody yet");
    }
  });
  EXPECT_EQ(multi_line_defs, 1);

  AcDbAttribute* att = nullptr;
  ASSERT_EQ(acdbOpenObject(att, remark, AcDb::kForWrite), Acad::eOk);
  ASSERT_TRUE(att->isMTextAttribute());
  AcString text;
  att->textString(text);
  EXPECT_EQ(text.str(), L"First line\\P" + long_line + L"\\PLast line");
  // R2018 repeats 71 (attribute type 2) and 72 in AcDbAttribute: not the text's own flags.
  EXPECT_FALSE(att->isMirroredInX());
  EXPECT_EQ(att->horizontalMode(), AcDb::kTextLeft);
  // A new text of three chunks, with line breaks typed as such and characters beyond ASCII.
  std::wstring longer = L"Größe Ø 50\n";
  for (int i = 0; i < 60; ++i) longer += L"Prüfung " + std::to_wstring(i) + L" ";
  longer += L"\r\nEnde — 完";
  ASSERT_GT(longer.size(), 500u);
  ASSERT_EQ(att->setTextString(longer.c_str()), Acad::eOk);
  std::wstring expected = longer;
  expected.replace(expected.find(L"\r\n"), 2, L"\\P");
  expected.replace(expected.find(L"\n"), 1, L"\\P");
  att->textString(text);
  EXPECT_EQ(text.str(), expected);
  att->close();
  AcDbAttribute* single = nullptr;
  ASSERT_EQ(acdbOpenObject(single, number, AcDb::kForWrite), Acad::eOk);
  EXPECT_FALSE(single->isMTextAttribute());
  EXPECT_EQ(single->setTextString(L"two\nlines"), Acad::eInvalidInput);
  single->close();
  ASSERT_EQ(db.saveAs(W(copy).c_str()), Acad::eOk) << fs::path(db.lastErrorText());

  AcDbDatabase reread(false, true);
  ASSERT_EQ(reread.dxfIn(W(copy).c_str()), Acad::eOk);
  AcDbObjectId again;
  ASSERT_EQ(reread.getAcDbObjectId(again, false, remark.handle()), Acad::eOk);
  ASSERT_EQ(acdbOpenObject(att, again, AcDb::kForRead), Acad::eOk);
  att->textString(text);
  EXPECT_EQ(text.str(), expected);
  att->close();
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "no ezdxf to read the text back";
  std::string h = HandleText(remark.handle());
  auto seen = Probe(copy, {h});
  EXPECT_EQ(seen[h + ".mtext"], Narrow(expected));
  EXPECT_EQ(seen["audit"], "");
}

TEST(AcDbDatabase, EditedDrawingsPassEzdxfAuditAndReadBack) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "no ezdxf";
  TempFolder tmp;
  std::vector<fs::path> files = {
      Corpus("acad_AC1009_example_r12.dxf"),
      Corpus("acad_AC1018_A_000217.dxf"),
      Corpus("acad_AC1024_gh209_1.dxf"),
      Corpus("acad_AC1032_dynblk0.dxf"),
      Corpus("qcad-teigha_AC1027_visibility3.dxf"),
      Corpus("acadm_AC1018_floorplan.dxf"),
      dxf_test::SamplesDir() / "multiline_r2018.dxf",
      dxf_test::SamplesDir() / "missing_attribs_r12.dxf",
  };
  fs::path tool = fs::path(SW_SHARED_DIR) / "tools" / "gen_drawing.py";
  if (fs::exists(tool)) {
    fs::path generated = tmp.path() / "generated.dxf";
    std::string command = "/usr/bin/python3 '" + tool.string() + "' --refs 500 --seed 3 '" +
                          generated.string() + "' >/dev/null";
    ASSERT_EQ(dxf_test::Run(command), 0);
    files.push_back(generated);
  }
  int edited_files = 0, appended = 0;
  for (const fs::path& source : files) {
    SCOPED_TRACE(source.filename().string());
    if (!fs::exists(source)) continue;
    fs::path copy = tmp.path() / ("edited_" + source.filename().string());
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
    auto original = Probe(copy);
    AcDbDatabase db(false, true);
    ASSERT_EQ(db.dxfIn(W(copy).c_str()), Acad::eOk);

    // Another layer for the edited references.
    std::vector<std::wstring> layer_names = LayerNames(db);
    ASSERT_FALSE(layer_names.empty());

    // A missing attribute appended first (where a block defines one a reference lacks).
    std::map<std::string, std::string> expected;
    if (Missing missing = FindMissingAttribute(db, false); !missing.ref.isNull()) {
      AcDbObjectId id = AppendFromDefinition(missing, L"appended");
      if (!id.handle().isNull()) expected[HandleText(id.handle()) + ".text"] = "appended";
      ++appended;
    }

    // Every reference with attributes in model space, up to 6, spread over the drawing.
    AcDbObjectIdArray refs;
    for (AcDbObjectId id : ReferencesWithAttributes(db)) {
      AcDbEntity* e = nullptr;
      ASSERT_EQ(acdbOpenObject(e, id, AcDb::kForRead), Acad::eOk);
      if (AcDbBlockReference::cast(e)->normal().isEqualTo(AcGeVector3d::kZAxis)) refs.append(id);
      e->close();
    }
    if (refs.isEmpty()) continue;
    int step = std::max(1, refs.length() / 6);
    std::vector<std::string> handles;
    for (int n = 0, i = 0; i < refs.length() && n < 6; i += step, ++n) {
      AcDbBlockReference* ref = nullptr;
      ASSERT_EQ(acdbOpenObject(ref, refs[i], AcDb::kForWrite), Acad::eOk);
      std::string r = HandleText(ref->handle());
      handles.push_back(r);
      AcGePoint3d position = ref->position() + AcGeVector3d(10 + n, 5, 0);
      double rotation = (15.0 * (n + 1)) * std::numbers::pi / 180;
      std::wstring layer = layer_names[(n + 1) % layer_names.size()];
      EXPECT_EQ(ref->setPosition(position), Acad::eOk);
      EXPECT_EQ(ref->setRotation(rotation), Acad::eOk);
      EXPECT_EQ(ref->setScaleFactors(AcGeScale3d(2, 1.5, 1)), Acad::eOk);
      EXPECT_EQ(ref->setLayer(layer.c_str()), Acad::eOk);
      expected[r + ".insert"] = FormatPoint(position);
      expected[r + ".rotation"] = Format(15.0 * (n + 1));
      expected[r + ".scale"] = "2,1.5,1";
      expected[r + ".layer"] = Narrow(layer);
      AcDbObjectIdArray atts = AttributeIds(ref);
      for (int k = 0; k < atts.length(); ++k) {
        AcDbAttribute* att = nullptr;
        ASSERT_EQ(ref->openAttribute(att, atts[k], AcDb::kForWrite), Acad::eOk);
        std::string a = HandleText(att->handle());
        handles.push_back(a);
        std::wstring text = L"Edit " + std::to_wstring(n) + L"." + std::to_wstring(k);
        AcGePoint3d at = att->position() + AcGeVector3d(10 + n, 5, 0);
        EXPECT_EQ(att->setTextString(text.c_str()), Acad::eOk);
        EXPECT_EQ(att->setPosition(at), Acad::eOk);
        EXPECT_EQ(att->setRotation(rotation), Acad::eOk);
        EXPECT_EQ(att->setHeight(att->height() * 2), Acad::eOk);
        EXPECT_EQ(att->setLayer(layer.c_str()), Acad::eOk);
        // A multi-line attribute keeps its own single-line text in step with the MTEXT.
        expected[a + ".text"] = Narrow(text);
        if (att->isMTextAttribute()) expected[a + ".mtext"] = Narrow(text);
        expected[a + ".insert"] = FormatPoint(at);
        expected[a + ".rotation"] = Format(15.0 * (n + 1));
        expected[a + ".height"] = Format(att->height());
        expected[a + ".layer"] = Narrow(layer);
        att->close();
      }
      ref->close();
    }
    ASSERT_EQ(db.saveAs(W(copy).c_str()), Acad::eOk) << fs::path(db.lastErrorText());
    for (const auto& [key, value] : expected) handles.push_back(key.substr(0, key.find('.')));
    std::sort(handles.begin(), handles.end());
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
    auto seen = Probe(copy, handles);
    EXPECT_EQ(seen["audit"], original["audit"]) << "ezdxf's audit finds new errors";
    if (original["seed_above"] == "1") {
      EXPECT_EQ(seen["seed_above"], "1");
    }
    for (const auto& [key, value] : expected) EXPECT_EQ(seen[key], value) << key;
    ++edited_files;
  }
  if (edited_files == 0) GTEST_SKIP() << "no drawings";
  EXPECT_GE(appended, 1);
}

TEST(AcString, CompareNoCaseOrdersByTheFoldedText) {
  EXPECT_EQ(AcString(L"Tag-Ä1").compareNoCase(L"tAG-ä1"), 0);
  EXPECT_LT(AcString(L"abc").compareNoCase(L"ABD"), 0);
  EXPECT_GT(AcString(L"ABD").compareNoCase(L"abc"), 0);
  EXPECT_LT(AcString(L"AB").compareNoCase(L"abc"), 0) << "a prefix comes first";
  EXPECT_GT(AcString(L"abc").compareNoCase(nullptr), 0);
  EXPECT_EQ(AcString(L"").compareNoCase(nullptr), 0);
  // Folded, not as typed: 'Z' (0x5A) is below '_' (0x5F), its folded 'z' (0x7A) above.
  EXPECT_GT(AcString(L"Z").compareNoCase(L"_"), 0);
}
