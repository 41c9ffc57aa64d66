// The write-back into the drawing by handle text: real drawings are loaded as the host's working
// drawing, changed through the operations, saved, and read back by ezdxf (writeback_probe.py),
// which tells which records changed and where each attribute stands compared with its block's
// attribute definition under the reference's transform.
#include "cmd/cmdvanta.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/codepage.h"
#include "platform/win/message.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace fs = std::filesystem;

namespace {

fs::path Corpus(const std::string& name) {
  return fs::path(SW_SHARED_DIR) / "corpus" / "dxf" / name;
}

fs::path Sample(const std::string& name) {
  return dxf_test::SamplesDir() / name;
}

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string Take(ACHAR* text) {
  std::string out = WideToUtf8(text != nullptr ? text : L"");
  acutDelBuffer(text);
  return out;
}

std::set<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::set<std::string> out;
  for (std::string word; in >> word;) out.insert(word);
  return out;
}

// A copy of `source` loaded as the host's working drawing. Snapshot() saves the state the
// comparison starts from (after preparations); Probe() saves the result and asks ezdxf.
class WorkingDrawing {
 public:
  explicit WorkingDrawing(const fs::path& source) : before_(tmp_.path() / "before.dxf") {
    fs::copy_file(source, before_);
    after_ = tmp_.path() / "after.dxf";
    loaded_ = db_.dxfIn(before_.wstring().c_str()) == Acad::eOk;
    EXPECT_TRUE(loaded_) << WideToUtf8(db_.lastErrorText());
    acdbHostApplicationServices()->setWorkingDatabase(&db_);
  }
  ~WorkingDrawing() { acdbHostApplicationServices()->setWorkingDatabase(nullptr); }
  WorkingDrawing(const WorkingDrawing&) = delete;
  WorkingDrawing& operator=(const WorkingDrawing&) = delete;

  bool loaded() const { return loaded_; }
  AcDbDatabase& db() { return db_; }

  void Snapshot() {
    ASSERT_EQ(db_.saveAs(before_.wstring().c_str()), Acad::eOk) << WideToUtf8(db_.lastErrorText());
  }

  // What ezdxf sees: "key" -> "value" lines of writeback_probe.py.
  std::map<std::string, std::string> Probe(const std::vector<std::string>& handles = {}) {
    std::map<std::string, std::string> seen;
    EXPECT_EQ(db_.saveAs(after_.wstring().c_str()), Acad::eOk) << WideToUtf8(db_.lastErrorText());
    fs::path script = fs::path(__FILE__).parent_path() / "writeback_probe.py";
    std::string command = "/usr/bin/python3 '" + script.string() + "' '" + before_.string() +
                          "' '" + after_.string() + "'";
    for (const std::string& h : handles) command += " " + h;
    std::string output;
    EXPECT_EQ(dxf_test::Run(command + " 2>&1", &output), 0) << output;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      std::size_t tab = line.find('\t');
      if (tab != std::string::npos) seen[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return seen;
  }

 private:
  dxf_test::TempDir tmp_;
  fs::path before_, after_;
  AcDbDatabase db_{false, true};
  bool loaded_ = false;
};

#define REQUIRE_DRAWING(path)                                           \
  if (!fs::exists(path)) GTEST_SKIP() << "drawing missing: " << (path); \
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf not available to python3"

// Message boxes recorded instead of shown, for the time the object lives.
class RecordedBoxes : public MessageBoxPresenter {
 public:
  struct Box {
    HWND owner;
    std::wstring text, caption;
    UINT type;
  };
  int Present(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) override {
    boxes.push_back({owner, std::wstring(text), std::wstring(caption), type});
    return IDOK;
  }
  std::vector<Box> boxes;
};

class BoxScope {
 public:
  BoxScope() : recorded_(std::make_shared<RecordedBoxes>()) {
    previous_ = SetMessageBoxPresenter(recorded_);
  }
  ~BoxScope() { SetMessageBoxPresenter(previous_); }
  BoxScope(const BoxScope&) = delete;
  BoxScope& operator=(const BoxScope&) = delete;
  const std::vector<RecordedBoxes::Box>& boxes() const { return recorded_->boxes; }

 private:
  std::shared_ptr<RecordedBoxes> recorded_;
  std::shared_ptr<MessageBoxPresenter> previous_;
};

// The handles and texts of a reference's attributes, read through the host.
std::vector<std::pair<std::string, std::wstring>> AttributeTexts(const std::string& handle) {
  std::vector<std::pair<std::string, std::wstring>> out;
  AcDbEntity* entity = nullptr;
  EXPECT_TRUE(OpenEntityByHandle(Wide(handle), AcDb::kForRead, entity));
  if (entity == nullptr) return out;
  auto* ref = AcDbBlockReference::cast(entity);
  std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
  for (; !it->done(); it->step()) {
    AcDbAttribute* att = nullptr;
    EXPECT_EQ(ref->openAttribute(att, it->objectId(), AcDb::kForRead), Acad::eOk);
    AcString text;
    att->textString(text);
    out.emplace_back(WideToUtf8(att->handle().text()), text.str());
    att->close();
  }
  entity->close();
  return out;
}

// Renames the tag of the ATTRIB or ATTDEF with `handle`.
void Retag(AcDbDatabase& db, const wchar_t* handle, const wchar_t* tag) {
  AcDbObjectId id;
  ASSERT_EQ(db.getAcDbObjectId(id, false, AcDbHandle(handle)), Acad::eOk);
  AcDbObject* object = nullptr;
  ASSERT_EQ(acdbOpenAcDbObject(object, id, AcDb::kForWrite), Acad::eOk);
  if (auto* att = AcDbAttribute::cast(object)) {
    EXPECT_EQ(att->setTag(tag), Acad::eOk);
  } else if (auto* def = AcDbAttributeDefinition::cast(object)) {
    EXPECT_EQ(def->setTag(tag), Acad::eOk);
  }
  object->close();
}

}  // namespace

TEST(SetAttributesByTag, WritesEachValueIntoTheAttributesOfItsTagAndNothingElse) {
  fs::path file = Sample("attributes_r2010.dxf");
  REQUIRE_DRAWING(file);
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  // Reference 4A gets two attributes of one tag: its KIND (4E) is renamed to "maker".
  Retag(drawing.db(), L"4E", L"maker");
  // Reference 45's KIND (49) gets a tag with a non-ASCII letter.
  Retag(drawing.db(), L"49", L"GRÖSSE");
  drawing.Snapshot();

  struct Row {
    const wchar_t* handle;
    std::vector<std::wstring> tags, values;
    bool result;
  } rows[] = {
      // Tags match in any letter case, non-ASCII values included.
      {L"36", {L"number", L"MAKER"}, {L"P-100", L"Größe ÄÖ"}, true},
      // Two headers equal but for case, one attribute: the later value stands, two matches.
      {L"3B", {L"KIND", L"kind"}, {L"first", L"second"}, true},
      // A tag the reference lacks: the others are written all the same.
      {L"40", {L"NUMBER", L"NO-SUCH-TAG"}, {L"P-200", L"lost"}, false},
      // Counts that differ: nothing is written.
      {L"45", {L"NUMBER"}, {}, false},
      {L"45", {}, {L"P-300"}, false},
      {L"45", {}, {}, true},
      {L"45", {L"grösse"}, {L"L"}, true},
      // Two attributes of one tag both take the value: two matches for one value.
      {L"4A", {L"Maker"}, {L"Both"}, false},
      // A line break cannot go into a single-line attribute: it keeps text and field length.
      {L"45", {L"NUMBER"}, {L"two\nlines"}, false},
      // Handle texts in any case, with blanks around them.
      {L" 4a ", {L"NUMBER"}, {L"P-404"}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(WideToUtf8(row.handle));
    EXPECT_EQ(SetAttributesByTag(row.handle, row.tags, row.values), row.result);
  }
  auto seen = drawing.Probe({"36", "3B", "40", "45", "4A"});
  // Exactly the attributes written, each in its text and field length only.
  EXPECT_EQ(Words(seen["changed"]),
            (std::set<std::string>{"38", "39", "3F", "42", "49", "4C", "4D", "4E"}));
  EXPECT_EQ(seen["added"], "");
  EXPECT_EQ(seen["removed"], "");
  for (const char* h : {"38", "39", "3F", "42", "49", "4C", "4D", "4E"}) {
    std::set<std::string> codes = Words(seen[std::string(h) + ".diff"]);
    EXPECT_TRUE(codes.count("1")) << h;
    for (const std::string& code : codes) EXPECT_TRUE(code == "1" || code == "73") << h << code;
  }
  struct Expect {
    const char *handle, *text, *field_length;
  } expected[] = {
      {"38", "P-100", "5"},  {"39", "Größe ÄÖ", "8"}, {"3A", "", "0"},
      {"3F", "second", "6"}, {"42", "P-200", "5"},    {"4C", "P-404", "5"},
      {"4D", "Both", "4"},   {"4E", "Both", "4"},     {"47", "P-003", "0"},
  };
  for (const Expect& e : expected) {
    EXPECT_EQ(seen[std::string(e.handle) + ".text"], e.text) << e.handle;
    EXPECT_EQ(seen[std::string(e.handle) + ".field_length"], e.field_length) << e.handle;
  }
  EXPECT_EQ(seen["audit_after"], seen["audit_before"]) << "ezdxf's audit finds new errors";
}

TEST(BlockWriteBack, AttributesFollowTheirReferenceAsTheDefinitionPlacesThem) {
  const double kDeg = std::numbers::pi / 180;
  enum class Op { kPosition, kRotation, kScale };
  struct Row {
    fs::path file;
    const char* ref;
    Op op;
    AcGePoint3d value;  // the point, the rotation in degrees (x), or the scale factors
    // What ezdxf reads back from the reference, and the group codes that change in it.
    const char *insert, *rotation, *scale, *codes;
  };
  const fs::path text = Corpus("acad_AC1032_text.dxf");
  const Row rows[] = {
      // Attributes of four kinds: upside down, rotated, backward and plain definitions.
      {text, "756", Op::kPosition, {7000, 1000.5, 0}, "7000,1000.5,0", "0", "1,1,1", "10 20"},
      {text, "756", Op::kRotation, {30, 0, 0}, "7089.75474,1145.43604,0", "30", "1,1,1", "50"},
      // A negative X scale mirrors the reference: its attributes become backward text.
      {text, "756", Op::kScale, {-2, 2, 2}, "7089.75474,1145.43604,0", "0", "-2,2,2", "41 42 43"},
      // A reference AutoCAD saved mirrored (negative Y) and turned, moved.
      {Corpus("acad_AC1027_example_2013.dxf"),
       "756",
       Op::kPosition,
       {100, -50, 0},
       "100,-50,0",
       "311.34392",
       "3256.51776,-1843.49202,3256.51776",
       "10 20"},
      // Centred attributes (alignment points) of a real civil drawing, turned.
      {Corpus("acad_AC1018_A_000217.dxf"),
       "D9B071D01A0BAA8A",
       Op::kRotation,
       {90, 0, 0},
       "-1880.64675,-557.981783,0",
       "90",
       "1,1,1",
       "50"},
      // Scaled unevenly: the factor left at 1 is not written.
      {Corpus("acad_AC1024_gh209_1.dxf"),
       "73",
       Op::kScale,
       {1.5, 0.5, 1},
       "7.73576644,13.1343758,0",
       "0",
       "1.5,0.5,1",
       "41 42"},
      // A multi-line attribute and an R12 drawing.
      {Sample("multiline_r2018.dxf"),
       "36",
       Op::kRotation,
       {45, 0, 0},
       "0,0,0",
       "45",
       "1,1,1",
       "50"},
      {Sample("r12.dxf"), "39", Op::kPosition, {-20, 7.25, 0}, "-20,7.25,0", "0", "1,1,1", "10 20"},
  };
  int ran = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file.filename().string() + " " + row.ref);
    if (!fs::exists(row.file) || !dxf_test::HaveEzdxf()) continue;
    ++ran;
    WorkingDrawing drawing(row.file);
    ASSERT_TRUE(drawing.loaded());
    auto before = AttributeTexts(row.ref);
    ASSERT_FALSE(before.empty());
    bool done = false;
    switch (row.op) {
      case Op::kPosition:
        done = SetBlockPosition(Wide(row.ref), row.value);
        break;
      case Op::kRotation:
        done = SetBlockRotation(Wide(row.ref), row.value.x * kDeg);
        break;
      case Op::kScale:
        done = SetBlockScale(Wide(row.ref), AcGeScale3d(row.value.x, row.value.y, row.value.z));
        break;
    }
    EXPECT_TRUE(done);
    auto seen = drawing.Probe({row.ref});
    std::string r = row.ref;
    EXPECT_EQ(seen[r + ".insert"], row.insert);
    EXPECT_EQ(seen[r + ".rotation"], row.rotation);
    EXPECT_EQ(seen[r + ".scale"], row.scale);
    EXPECT_EQ(seen[r + ".diff"], row.codes);
    // The reference and its attributes changed, nothing else.
    std::set<std::string> changed = {r};
    for (const auto& [handle, text] : before) {
      changed.insert(handle);
      SCOPED_TRACE(handle);
      EXPECT_EQ(seen[handle + ".placed"], "ok");
      // Texts kept; the field length is the text's length plus one.
      std::string key = seen.count(handle + ".mtext") ? handle + ".mtext" : handle + ".text";
      EXPECT_EQ(seen[key], WideToUtf8(text));
      EXPECT_EQ(seen[handle + ".field_length"], std::to_string(text.size() + 1));
    }
    EXPECT_EQ(Words(seen["changed"]), changed);
    EXPECT_EQ(seen["added"], "");
    EXPECT_EQ(seen["removed"], "");
    EXPECT_EQ(seen["audit_after"], seen["audit_before"]) << "ezdxf's audit finds new errors";
  }
  if (ran == 0) GTEST_SKIP() << "no drawings or no ezdxf";
}

TEST(BlockWriteBack, AttributeWhoseTagLeftTheDefinitionKeepsPlaceAndText) {
  fs::path file = Sample("attributes_r2010.dxf");
  REQUIRE_DRAWING(file);
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  // The block's KIND definition is renamed: reference 36's KIND attribute (3A) has none now.
  Retag(drawing.db(), L"35", L"SORT");
  drawing.Snapshot();
  EXPECT_TRUE(SetBlockPosition(L"36", AcGePoint3d(5, -5, 0)));
  auto seen = drawing.Probe({"36"});
  EXPECT_EQ(Words(seen["changed"]), (std::set<std::string>{"36", "38", "39"}));
  EXPECT_EQ(seen["36.insert"], "5,-5,0");
  EXPECT_EQ(seen["38.placed"], "ok");
  EXPECT_EQ(seen["39.placed"], "ok");
  EXPECT_EQ(seen["3A.placed"], "nodef");
  EXPECT_EQ(seen["3A.tag"], "KIND");
  EXPECT_EQ(seen["audit_after"], seen["audit_before"]);
}

TEST(SetEntityLayer, MovesAnyEntityToALayerTheDrawingHasOnly) {
  fs::path file = Corpus("acad_AC1027_example_2013.dxf");
  REQUIRE_DRAWING(file);
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  EXPECT_TRUE(SetEntityLayer(L"8B", L"tavolo 2"));   // a LINE, the name in another case
  EXPECT_TRUE(SetEntityLayer(L"190", L"TAVOLO 2"));  // a block reference with an attribute
  EXPECT_FALSE(SetEntityLayer(L"250", L"Nowhere"));  // no such layer: none is made
  EXPECT_FALSE(SetEntityLayer(L"251", L""));
  EXPECT_FALSE(SetEntityLayer(L"", L"Tavolo 2"));
  // A line is no block reference.
  EXPECT_FALSE(SetAttributesByTag(L"8B", {}, {}));
  EXPECT_FALSE(SetBlockPosition(L"8B", AcGePoint3d(1, 2, 3)));
  EXPECT_FALSE(SetBlockRotation(L"8B", 1));
  EXPECT_FALSE(SetBlockScale(L"8B", AcGeScale3d(2)));
  auto seen = drawing.Probe({"8B", "190", "250"});
  EXPECT_EQ(seen["changed"], "190 8B");
  EXPECT_EQ(seen["8B.diff"], "8");
  EXPECT_EQ(seen["190.diff"], "8");
  EXPECT_EQ(seen["8B.layer"], "Tavolo 2");
  EXPECT_EQ(seen["190.layer"], "Tavolo 2");
  EXPECT_EQ(seen["layers"], seen["layers_before"]);
  EXPECT_EQ(seen["layers"].find("Nowhere"), std::string::npos);
  EXPECT_EQ(seen["audit_after"], seen["audit_before"]);
}

TEST(BlockWriteBack, HandlesThatNameNoUsableObjectChangeNothingAndShowNothing) {
  fs::path file = Corpus("acad_AC1032_text.dxf");
  REQUIRE_DRAWING(file);
  BoxScope boxes;
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  {
    AcDbEntity* line = nullptr;
    ASSERT_TRUE(OpenEntityByHandle(L"38D", AcDb::kForWrite, line));
    ASSERT_EQ(line->erase(), Acad::eOk);
    line->close();
  }
  drawing.Snapshot();
  // Empty, blank, not hexadecimal, too long, unknown, the null handle, an erased LINE, the
  // layer table (no entity).
  std::wstring layer_table = drawing.db().layerTableId().handle().text();
  for (std::wstring handle :
       {L"", L"   ", L"XYZ", L"12345678901234567", L"FFFFFF", L"0", L"38D", layer_table.c_str()}) {
    SCOPED_TRACE(WideToUtf8(handle));
    AcDbEntity* entity = nullptr;
    EXPECT_FALSE(OpenEntityByHandle(handle, AcDb::kForRead, entity));
    EXPECT_EQ(entity, nullptr);
    EXPECT_FALSE(SetAttributesByTag(handle, {}, {}));
    EXPECT_FALSE(SetEntityLayer(handle, L"0"));
    EXPECT_FALSE(SetBlockPosition(handle, AcGePoint3d(1, 1, 0)));
    EXPECT_FALSE(SetBlockRotation(handle, 1));
    EXPECT_FALSE(SetBlockScale(handle, AcGeScale3d(2)));
  }
  // Values the host refuses leave the reference and its attributes as they were.
  EXPECT_FALSE(SetBlockScale(L"756", AcGeScale3d(0, 1, 1)));
  EXPECT_FALSE(SetBlockRotation(L"756", std::numeric_limits<double>::quiet_NaN()));
  // A reference someone holds open for write cannot be written.
  {
    AcDbEntity* held = nullptr;
    ASSERT_TRUE(OpenEntityByHandle(L"756", AcDb::kForWrite, held));
    EXPECT_FALSE(SetBlockPosition(L"756", AcGePoint3d(1, 1, 0)));
    EXPECT_FALSE(SetAttributesByTag(L"756", {L"TAG-NORMAL"}, {L"held"}));
    held->close();
  }
  auto seen = drawing.Probe();
  EXPECT_EQ(seen["changed"], "");
  EXPECT_EQ(seen["added"], "");
  EXPECT_EQ(seen["removed"], "");
  // Host errors are answers, never message boxes.
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST(OpenEntityByHandle, OpensTheWorkingDrawingsEntityInTheAskedMode) {
  fs::path file = Corpus("acad_AC1032_text.dxf");
  if (!fs::exists(file)) GTEST_SKIP() << "drawing missing: " << file;
  AcDbEntity* entity = nullptr;
  EXPECT_FALSE(OpenEntityByHandle(L"38B", AcDb::kForRead, entity)) << "no working drawing";
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  ASSERT_TRUE(OpenEntityByHandle(L"38b", AcDb::kForRead, entity));
  EXPECT_EQ(entity->handle(), AcDbHandle(0x38B));
  EXPECT_STREQ(entity->dxfName(), L"LINE");
  EXPECT_FALSE(entity->isWriteEnabled());
  AcDbEntity* writer = nullptr;
  EXPECT_FALSE(OpenEntityByHandle(L"38B", AcDb::kForWrite, writer)) << "open for read";
  entity->close();
  ASSERT_TRUE(OpenEntityByHandle(L"38B", AcDb::kForWrite, writer));
  EXPECT_TRUE(writer->isWriteEnabled());
  writer->close();
}

TEST(FindAttributeDefinition, FindsTheDefinitionOfTheTagAndLeavesOnlyItOpen) {
  fs::path file = Corpus("acad_AC1032_text.dxf");
  if (!fs::exists(file)) GTEST_SKIP() << "drawing missing: " << file;
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  Retag(drawing.db(), L"759", L"tag-rotated");  // the definition 74F says TAG-ROTATED
  AcDbEntity* entity = nullptr;
  ASSERT_TRUE(OpenEntityByHandle(L"756", AcDb::kForRead, entity));
  auto* ref = AcDbBlockReference::cast(entity);
  ASSERT_NE(ref, nullptr);
  AcDbAttribute* att = nullptr;
  AcDbObjectId att_id;
  ASSERT_EQ(drawing.db().getAcDbObjectId(att_id, false, AcDbHandle(0x759)), Acad::eOk);
  ASSERT_EQ(ref->openAttribute(att, att_id, AcDb::kForRead), Acad::eOk);

  for (AcDb::OpenMode mode : {AcDb::kForRead, AcDb::kForWrite}) {
    AcDbAttributeDefinition* def = nullptr;
    ASSERT_TRUE(FindAttributeDefinition(ref, att, def, mode));
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->handle(), AcDbHandle(0x74F));
    EXPECT_EQ(Take(def->tag()), "TAG-ROTATED");
    EXPECT_EQ(def->isWriteEnabled(), mode == AcDb::kForWrite);
    def->close();
  }
  // The block definition and the entities passed over were closed: each opens for write.
  AcDbObject* object = nullptr;
  ASSERT_EQ(acdbOpenAcDbObject(object, ref->blockTableRecord(), AcDb::kForWrite), Acad::eOk);
  object->close();
  for (AcDbHandle h : {AcDbHandle(0x74E), AcDbHandle(0x750), AcDbHandle(0x751)}) {
    AcDbObjectId id;
    ASSERT_EQ(drawing.db().getAcDbObjectId(id, false, h), Acad::eOk);
    ASSERT_EQ(acdbOpenAcDbObject(object, id, AcDb::kForWrite), Acad::eOk) << h.value();
    object->close();
  }
  att->close();

  // An attribute whose tag the block lacks.
  Retag(drawing.db(), L"759", L"TAG-GONE");
  ASSERT_EQ(ref->openAttribute(att, att_id, AcDb::kForRead), Acad::eOk);
  AcDbAttributeDefinition* def = reinterpret_cast<AcDbAttributeDefinition*>(&drawing);
  EXPECT_FALSE(FindAttributeDefinition(ref, att, def, AcDb::kForRead));
  EXPECT_EQ(def, nullptr);
  att->close();
  ref->close();
}

TEST(FindAttributeDefinition, WithoutReferenceOrAttributeShowsTheAssertionBox) {
  fs::path file = Sample("attributes_r2010.dxf");
  if (!fs::exists(file)) GTEST_SKIP() << "drawing missing: " << file;
  WorkingDrawing drawing(file);
  ASSERT_TRUE(drawing.loaded());
  BoxScope boxes;
  AcDbEntity* entity = nullptr;
  ASSERT_TRUE(OpenEntityByHandle(L"36", AcDb::kForRead, entity));
  auto* ref = AcDbBlockReference::cast(entity);
  AcDbAttribute* att = nullptr;
  AcDbObjectId att_id;
  ASSERT_EQ(drawing.db().getAcDbObjectId(att_id, false, AcDbHandle(0x38)), Acad::eOk);
  ASSERT_EQ(ref->openAttribute(att, att_id, AcDb::kForRead), Acad::eOk);

  AcDbAttributeDefinition* def = nullptr;
  EXPECT_FALSE(FindAttributeDefinition(nullptr, att, def, AcDb::kForRead));
  EXPECT_FALSE(FindAttributeDefinition(ref, nullptr, def, AcDb::kForRead));
  EXPECT_FALSE(FindAttributeDefinition(nullptr, nullptr, def, AcDb::kForRead));
  EXPECT_EQ(def, nullptr);
  EXPECT_FALSE(RefitAttributes(nullptr));
  att->close();
  ref->close();

  ASSERT_EQ(boxes.boxes().size(), 3u);
  const std::wregex kText(LR"(Module: cmd\\cmdvanta\nLine: ([1-9][0-9]*)\nCondition: (.*))");
  std::vector<std::wstring> lines, conditions;
  for (const RecordedBoxes::Box& box : boxes.boxes()) {
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, L"Assertion failed");
    EXPECT_EQ(box.type, 0x10u);  // MB_ICONSTOP and MB_OK
    std::wsmatch match;
    ASSERT_TRUE(std::regex_match(box.text, match, kText)) << WideToUtf8(box.text);
    lines.push_back(match[1]);
    conditions.push_back(match[2]);
  }
  EXPECT_EQ(conditions,
            (std::vector<std::wstring>{L"pRef != NULL", L"pAtt != NULL", L"pRef != NULL"}));
  EXPECT_NE(lines[0], lines[1]);
  EXPECT_EQ(lines[0], lines[2]);
}
