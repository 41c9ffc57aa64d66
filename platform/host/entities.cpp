#include "platform/host/dbents.h"

#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "platform/host/dbimpl_internal.h"
#include "platform/win/locale.h"

namespace {

constexpr double kDegrees = 180 / std::numbers::pi;

const dxf::Entity Tags(const AcDbStub* stub) {
  return stub->db->Get(stub);
}
dxf::DxfDocument& Doc(const AcDbStub* stub) {
  return stub->db->doc();
}

Acad::ErrorStatus Result(bool ok) {
  return ok ? Acad::eOk : Acad::eInvalidInput;
}

bool Finite(double v) {
  return std::isfinite(v);
}

// Group codes that come before each AcDbText value, in the order AutoCAD writes them.
constexpr std::initializer_list<int> kBeforeHeight = {10, 20, 30, 39};
constexpr std::initializer_list<int> kBeforeText = {40, 10, 20, 30};
constexpr std::initializer_list<int> kBeforeTextRotation = {1, 40};
constexpr std::initializer_list<int> kBeforeWidth = {50, 1, 40};
constexpr std::initializer_list<int> kBeforeOblique = {41, 50, 1, 40};
constexpr std::initializer_list<int> kBeforeStyle = {51, 41, 50, 1, 40};
constexpr std::initializer_list<int> kBeforeGeneration = {7, 51, 41, 50, 1, 40};
constexpr std::initializer_list<int> kBeforeHorizontal = {71, 7, 51, 41, 50, 1, 40};
constexpr std::initializer_list<int> kBeforeAlign = {72, 71, 7, 51, 41, 50, 1, 40};

ACHAR* NewString(const std::wstring& text) {
  return acutNewString(text.c_str());
}

// The embedded MTEXT of a multi-line attribute: the index of its 101 tag, or kNoTag.
std::size_t EmbeddedStart(const dxf::Entity& e) {
  for (std::size_t i = 1; i < e.TagCount(); ++i) {
    int code = e.Code(i);
    if (code == 1001) break;
    if (code == 101 && e.Raw(i).starts_with("Embedded Object")) return i;
  }
  return dxf::kNoTag;
}

std::size_t EmbeddedEnd(const dxf::Entity& e, std::size_t start) {
  for (std::size_t i = start + 1; i < e.TagCount(); ++i)
    if (e.Code(i) == 1001) return i;
  return e.TagCount();
}

}  // namespace

SW_ACRX_DEFINE_MEMBERS(AcDbEntity, AcDbObject)
SW_ACRX_DEFINE_MEMBERS(AcDbText, AcDbEntity)
SW_ACRX_DEFINE_MEMBERS(AcDbAttributeDefinition, AcDbText)
SW_ACRX_DEFINE_MEMBERS(AcDbAttribute, AcDbText)
SW_ACRX_DEFINE_MEMBERS(AcDbBlockReference, AcDbEntity)
SW_ACRX_DEFINE_MEMBERS(AcDbMInsertBlock, AcDbBlockReference)

// ---- AcDbEntity

AcDbObjectId AcDbEntity::blockId() const {
  for (AcDbStub* s = stub()->owner; s != nullptr; s = s->owner)
    if (s->kind == StubKind::kBlockRecord) return AcDbObjectId(s);
  return {};
}

ACHAR* AcDbEntity::layer() const {
  return NewString(dbtags::Text(Tags(stub()), 8, L"0"));
}

AcDbObjectId AcDbEntity::layerId() const {
  std::wstring name = dbtags::Text(Tags(stub()), 8, L"0");
  for (AcDbStub* layer : stub()->db->layers)
    if (EqualsNoCase(dbtags::Text(stub()->db->Get(layer), 2, L""), name))
      return AcDbObjectId(layer);
  return {};
}

Acad::ErrorStatus AcDbEntity::setLayer(const ACHAR* name) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (name == nullptr || *name == 0) return Acad::eInvalidInput;
  // Not in a drawing yet: the layer is checked when the entity is appended.
  if (stub()->detached)
    return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Text(8, name),
                                      {5, 330, 100}));
  for (AcDbStub* layer : stub()->db->layers) {
    if (stub()->db->IsErased(layer)) continue;
    std::wstring own = dbtags::Text(stub()->db->Get(layer), 2, L"");
    if (EqualsNoCase(own, name)) return setLayer(AcDbObjectId(layer));
  }
  return Acad::eKeyNotFound;
}

Acad::ErrorStatus AcDbEntity::setLayer(AcDbObjectId layer_id) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (layer_id.isNull()) return Acad::eNullObjectId;
  if (layer_id.stub()->db != stub()->db || layer_id.stub()->kind != StubKind::kLayer)
    return Acad::eWrongObjectType;
  std::wstring name = dbtags::Text(stub()->db->Get(layer_id.stub()), 2, L"");
  if (dbtags::Text(Tags(stub()), 8, L"") == name) return Acad::eOk;  // nothing to rewrite
  return Result(
      dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Text(8, name), {5, 330, 100}));
}

// ---- AcDbText

AcGeVector3d AcDbText::normal() const {
  return dbtags::Point(Tags(stub()), 210, {0, 0, 1}).asVector();
}

Acad::ErrorStatus AcDbText::setNormal(const AcGeVector3d& n) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (n.isZeroLength()) return Acad::eInvalidInput;
  AcGeVector3d unit = n.normal();
  if (unit.isEqualTo(AcGeVector3d::kZAxis) && dbtags::FindOwn(Tags(stub()), 210) == dxf::kNoTag)
    return Acad::eOk;
  return Result(dbtags::SetPoint(Doc(stub()), stub()->record, 210,
                                 AcGePoint3d(unit.x, unit.y, unit.z),
                                 {11, 21, 31, 72, 71, 7, 51, 41, 50, 1, 40}));
}

AcGePoint3d AcDbText::position() const {
  AcGePoint3d p = dbtags::Point(Tags(stub()), 10, AcGePoint3d::kOrigin);
  return p.transformBy(AcGeMatrix3d::planeToWorld(normal()));
}

Acad::ErrorStatus AcDbText::setPosition(const AcGePoint3d& point) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  AcGePoint3d ocs = point;
  ocs.transformBy(AcGeMatrix3d::planeToWorld(normal()).inverse());
  return Result(dbtags::SetPoint(Doc(stub()), stub()->record, 10, ocs, {39, 100}));
}

AcGePoint3d AcDbText::alignmentPoint() const {
  dxf::Entity e = Tags(stub());
  if (dbtags::FindOwn(e, 11) == dxf::kNoTag) return position();
  AcGePoint3d p = dbtags::Point(e, 11, AcGePoint3d::kOrigin);
  return p.transformBy(AcGeMatrix3d::planeToWorld(normal()));
}

Acad::ErrorStatus AcDbText::setAlignmentPoint(const AcGePoint3d& point) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  AcGePoint3d ocs = point;
  ocs.transformBy(AcGeMatrix3d::planeToWorld(normal()).inverse());
  return Result(dbtags::SetPoint(Doc(stub()), stub()->record, 11, ocs, kBeforeAlign));
}

bool AcDbText::isDefaultAlignment() const {
  return horizontalMode() == AcDb::kTextLeft && verticalMode() == AcDb::kTextBase;
}

double AcDbText::rotation() const {
  return dbtags::Real(Tags(stub()), 50, 0) / kDegrees;
}

Acad::ErrorStatus AcDbText::setRotation(double radians) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (!Finite(radians)) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(
      Doc(stub()), stub()->record, dxf::NewTag::Real(50, radians * kDegrees), kBeforeTextRotation));
}

double AcDbText::height() const {
  return dbtags::Real(Tags(stub()), 40, 0);
}

Acad::ErrorStatus AcDbText::setHeight(double height) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (!Finite(height) || height <= 0) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Real(40, height),
                                    kBeforeHeight));
}

double AcDbText::widthFactor() const {
  return dbtags::Real(Tags(stub()), 41, 1);
}

Acad::ErrorStatus AcDbText::setWidthFactor(double factor) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (!Finite(factor) || factor <= 0) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Real(41, factor),
                                    kBeforeWidth));
}

double AcDbText::oblique() const {
  return dbtags::Real(Tags(stub()), 51, 0) / kDegrees;
}

Acad::ErrorStatus AcDbText::setOblique(double radians) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (!Finite(radians)) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record,
                                    dxf::NewTag::Real(51, radians * kDegrees), kBeforeOblique));
}

ACHAR* AcDbText::textStyleName() const {
  return NewString(dbtags::Text(Tags(stub()), 7, L"Standard"));
}

Acad::ErrorStatus AcDbText::setTextStyleName(const ACHAR* name) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (name == nullptr || *name == 0) return Acad::eInvalidInput;
  return Result(
      dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Text(7, name), kBeforeStyle));
}

AcDb::TextHorzMode AcDbText::horizontalMode() const {
  return static_cast<AcDb::TextHorzMode>(dbtags::Integer(Tags(stub()), 72, 0));
}

Acad::ErrorStatus AcDbText::setHorizontalMode(AcDb::TextHorzMode mode) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (mode < AcDb::kTextLeft || mode > AcDb::kTextFit) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Integer(72, mode),
                                    kBeforeHorizontal));
}

AcDb::TextVertMode AcDbText::verticalMode() const {
  return static_cast<AcDb::TextVertMode>(dbtags::Integer(Tags(stub()), verticalModeCode(), 0));
}

Acad::ErrorStatus AcDbText::setVerticalMode(AcDb::TextVertMode mode) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (mode < AcDb::kTextBase || mode > AcDb::kTextTop) return Acad::eInvalidInput;
  int code = verticalModeCode();
  std::initializer_list<int> before_attribute = {73, 70, 2};
  std::initializer_list<int> before_text = {11, 21, 31, 72};
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Integer(code, mode),
                                    code == 74 ? before_attribute : before_text));
}

bool AcDbText::isMirroredInX() const {
  return (dbtags::Integer(Tags(stub()), 71, 0) & 2) != 0;
}
bool AcDbText::isMirroredInY() const {
  return (dbtags::Integer(Tags(stub()), 71, 0) & 4) != 0;
}

namespace {

Acad::ErrorStatus SetGenerationFlag(const AcDbStub* stub, int flag, bool on) {
  std::int64_t flags = dbtags::Integer(Tags(stub), 71, 0);
  std::int64_t wanted = on ? (flags | flag) : (flags & ~flag);
  if (wanted == flags) return Acad::eOk;
  return Result(dbtags::SetOrInsert(Doc(stub), stub->record, dxf::NewTag::Integer(71, wanted),
                                    kBeforeGeneration));
}

}  // namespace

Acad::ErrorStatus AcDbText::mirrorInX(bool mirrored) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetGenerationFlag(stub(), 2, mirrored);
}

Acad::ErrorStatus AcDbText::mirrorInY(bool mirrored) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetGenerationFlag(stub(), 4, mirrored);
}

Acad::ErrorStatus AcDbText::textString(AcString& text) const {
  dxf::Entity e = Tags(stub());
  std::size_t start = EmbeddedStart(e);
  if (start == dxf::kNoTag) {
    text = dbtags::Text(e, 1, L"");
    return Acad::eOk;
  }
  // Multi-line: the embedded MTEXT holds the text as 250-character group 3 chunks ending
  // with a group 1.
  std::wstring joined;
  std::size_t end = EmbeddedEnd(e, start);
  for (std::size_t i = start + 1; i < end; ++i)
    if (e.Code(i) == 3 || e.Code(i) == 1) joined += e.Text(i);
  text = std::move(joined);
  return Acad::eOk;
}

ACHAR* AcDbText::textString() const {
  AcString text;
  textString(text);
  return NewString(text.str());
}

Acad::ErrorStatus AcDbText::setTextString(const ACHAR* text) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (text == nullptr) return Acad::eInvalidInput;
  dxf::DxfDocument& doc = Doc(stub());
  dxf::RecordId id = stub()->record;
  dxf::Entity e = doc.Get(id);
  std::size_t start = EmbeddedStart(e);
  std::wstring multi_line;
  std::wstring_view value(text);
  if (value.find_first_of(L"\r\n") != std::wstring_view::npos) {
    if (start == dxf::kNoTag) return Acad::eInvalidInput;
    // A multi-line text's line break is MTEXT's \P.
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == L'\r' && i + 1 < value.size() && value[i + 1] == L'\n') continue;
      if (value[i] == L'\r' || value[i] == L'\n') {
        multi_line += L"\\P";
      } else {
        multi_line += value[i];
      }
    }
    value = multi_line;
  }
  if (start != dxf::kNoTag) {
    std::size_t end = EmbeddedEnd(e, start);
    // Remove the old chunks (from the back, so indexes stay valid) and write new ones where the
    // first one stood.
    std::size_t first = dxf::kNoTag;
    for (std::size_t i = end; i-- > start + 1;) {
      if (e.Code(i) == 3 || e.Code(i) == 1) {
        if (!doc.RemoveTags(id, i, 1)) return Acad::eInvalidInput;
        first = i;
      }
    }
    if (first == dxf::kNoTag) first = start + 1;
    std::vector<dxf::NewTag> chunks;
    constexpr std::size_t kChunk = 250;
    std::size_t pos = 0;
    while (value.size() - pos > kChunk) {
      chunks.push_back(dxf::NewTag::Text(3, value.substr(pos, kChunk)));
      pos += kChunk;
    }
    chunks.push_back(dxf::NewTag::Text(1, value.substr(pos)));
    if (!doc.InsertTags(id, first, chunks)) return Acad::eInvalidInput;
  }
  if (dbtags::Text(doc.Get(id), 1, L"\x1") == value) return Acad::eOk;  // unchanged
  return Result(dbtags::SetOrInsert(doc, id, dxf::NewTag::Text(1, value), kBeforeText));
}

// ---- Attribute definitions and attributes

namespace {

ACHAR* TagOf(const AcDbStub* stub) {
  return NewString(dbtags::Text(Tags(stub), 2, L""));
}

Acad::ErrorStatus SetTagOf(const AcDbStub* stub, const ACHAR* tag) {
  if (tag == nullptr || *tag == 0) return Acad::eInvalidInput;
  for (const ACHAR* p = tag; *p; ++p)
    if (*p == L' ' || *p == L'\r' || *p == L'\n') return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub), stub->record, dxf::NewTag::Text(2, tag), {3, 280}));
}

std::int64_t FlagsOf(const AcDbStub* stub) {
  return dbtags::Integer(Tags(stub), 70, 0);
}

Acad::ErrorStatus SetFlag(const AcDbStub* stub, int flag, bool on) {
  std::int64_t flags = FlagsOf(stub);
  std::int64_t wanted = on ? (flags | flag) : (flags & ~flag);
  if (wanted == flags) return Acad::eOk;
  return Result(
      dbtags::SetOrInsert(Doc(stub), stub->record, dxf::NewTag::Integer(70, wanted), {2}));
}

Acad::ErrorStatus SetFieldLengthOf(const AcDbStub* stub, Adesk::UInt16 length) {
  if (length > 0x7FFF) return Acad::eInvalidInput;
  if (dbtags::Integer(Tags(stub), 73, -1) == length) return Acad::eOk;
  return Result(
      dbtags::SetOrInsert(Doc(stub), stub->record, dxf::NewTag::Integer(73, length), {70, 2}));
}

}  // namespace

ACHAR* AcDbAttributeDefinition::tag() const {
  return TagOf(stub());
}
Acad::ErrorStatus AcDbAttributeDefinition::setTag(const ACHAR* tag) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetTagOf(stub(), tag);
}
ACHAR* AcDbAttributeDefinition::prompt() const {
  return NewString(dbtags::Text(Tags(stub()), 3, L""));
}
Acad::ErrorStatus AcDbAttributeDefinition::setPrompt(const ACHAR* prompt) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (prompt == nullptr) return Acad::eInvalidInput;
  return Result(
      dbtags::SetOrInsert(Doc(stub()), stub()->record, dxf::NewTag::Text(3, prompt), {280, 100}));
}
bool AcDbAttributeDefinition::isInvisible() const {
  return (FlagsOf(stub()) & 1) != 0;
}
bool AcDbAttributeDefinition::isConstant() const {
  return (FlagsOf(stub()) & 2) != 0;
}
bool AcDbAttributeDefinition::isVerifiable() const {
  return (FlagsOf(stub()) & 4) != 0;
}
bool AcDbAttributeDefinition::isPreset() const {
  return (FlagsOf(stub()) & 8) != 0;
}
Acad::ErrorStatus AcDbAttributeDefinition::setConstant(bool constant) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetFlag(stub(), 2, constant);
}
Acad::ErrorStatus AcDbAttributeDefinition::setInvisible(bool invisible) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetFlag(stub(), 1, invisible);
}
Adesk::UInt16 AcDbAttributeDefinition::fieldLength() const {
  return static_cast<Adesk::UInt16>(dbtags::Integer(Tags(stub()), 73, 0));
}
Acad::ErrorStatus AcDbAttributeDefinition::setFieldLength(Adesk::UInt16 length) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetFieldLengthOf(stub(), length);
}
bool AcDbAttributeDefinition::isMTextAttributeDefinition() const {
  return EmbeddedStart(Tags(stub())) != dxf::kNoTag;
}

namespace {

// A new attribute's own small drawing (R2018, so any text fits), with its tags in the order
// AutoCAD writes them; the setters insert the rest where they belong.
constexpr char kNewAttribute[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1032\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nATTRIB\n5\n1\n100\nAcDbEntity\n8\n0\n100\nAcDbText\n"
    "10\n0.0\n20\n0.0\n30\n0.0\n40\n2.5\n1\n\n7\nStandard\n100\nAcDbAttribute\n2\n\n70\n0\n"
    "0\nENDSEC\n0\nEOF\n";

}  // namespace

AcDbAttribute::AcDbAttribute() : AcDbText(AcDbDatabaseImpl::NewDetached(kNewAttribute)) {}

ACHAR* AcDbAttribute::tag() const {
  return TagOf(stub());
}
Acad::ErrorStatus AcDbAttribute::setTag(const ACHAR* tag) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetTagOf(stub(), tag);
}
bool AcDbAttribute::isInvisible() const {
  return (FlagsOf(stub()) & 1) != 0;
}
bool AcDbAttribute::isConstant() const {
  return (FlagsOf(stub()) & 2) != 0;
}
bool AcDbAttribute::isVerifiable() const {
  return (FlagsOf(stub()) & 4) != 0;
}
bool AcDbAttribute::isPreset() const {
  return (FlagsOf(stub()) & 8) != 0;
}
Acad::ErrorStatus AcDbAttribute::setInvisible(bool invisible) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetFlag(stub(), 1, invisible);
}
Adesk::UInt16 AcDbAttribute::fieldLength() const {
  return static_cast<Adesk::UInt16>(dbtags::Integer(Tags(stub()), 73, 0));
}
Acad::ErrorStatus AcDbAttribute::setFieldLength(Adesk::UInt16 length) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  return SetFieldLengthOf(stub(), length);
}
bool AcDbAttribute::isMTextAttribute() const {
  return EmbeddedStart(Tags(stub())) != dxf::kNoTag;
}

namespace {

// Tag `i` of `from` as a tag to write into another drawing.
std::optional<dxf::NewTag> CopyTag(const dxf::Entity& from, std::size_t i) {
  int code = from.Code(i);
  switch (dxf::ValueTypeOf(code)) {
    case dxf::ValueType::kString:
      return dxf::NewTag::Text(code, from.Text(i));
    case dxf::ValueType::kDouble:
      return dxf::NewTag::Real(code, from.Real(i).value_or(0));
    case dxf::ValueType::kHandle:
      return dxf::NewTag::HandleRef(code, from.HandleAt(i));
    case dxf::ValueType::kInt16:
    case dxf::ValueType::kInt32:
    case dxf::ValueType::kInt64:
    case dxf::ValueType::kBool:
      return dxf::NewTag::Integer(code, from.Integer(i).value_or(0));
    case dxf::ValueType::kBinary:
      break;
  }
  return std::nullopt;
}

}  // namespace

Acad::ErrorStatus AcDbAttribute::setAttributeFromBlock(const AcDbAttributeDefinition* def,
                                                       const AcGeMatrix3d& m) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (def == nullptr) return Acad::eNullObjectPointer;
  if (!m.invertible()) return Acad::eInvalidInput;

  // The definition's text frame in world coordinates.
  AcGeMatrix3d def_plane = AcGeMatrix3d::planeToWorld(def->normal());
  AcGeVector3d def_normal = def->normal().normal();
  double rot = def->rotation();
  AcGeVector3d xdir = AcGeVector3d(std::cos(rot), std::sin(rot), 0).transformBy(def_plane);
  AcGeVector3d ydir = def_normal.crossProduct(xdir);
  double obl = def->oblique();
  // The slanted up direction of oblique text, so that its angle survives a non-uniform scale.
  AcGeVector3d slant = (ydir * std::cos(obl) + xdir * std::sin(obl));

  AcGeVector3d new_x = AcGeVector3d(xdir).transformBy(m);
  AcGeVector3d new_y = AcGeVector3d(ydir).transformBy(m);
  AcGeVector3d new_slant = AcGeVector3d(slant).transformBy(m);
  AcGeVector3d new_normal = new_x.crossProduct(new_y);
  bool mirrored = m.det() < 0;
  if (mirrored) new_normal = -new_normal;  // text keeps facing the viewer
  new_normal.normalize();
  // A mirrored text keeps its up direction and runs backward: its own x axis is the one
  // that makes (x, up, normal) right-handed again.
  AcGeVector3d up = new_y.normal();
  AcGeVector3d own_x = up.crossProduct(new_normal).normal();
  double x_scale = new_x.length();
  double y_scale = new_y.length();
  double height = def->height() * y_scale;
  double width = def->widthFactor() * (y_scale > 0 ? x_scale / y_scale : 1);
  // The rotation in the new plane, measured from the plane's own x axis.
  AcGeMatrix3d plane = AcGeMatrix3d::planeToWorld(new_normal);
  AcGeVector3d plane_x = AcGeVector3d(1, 0, 0).transformBy(plane);
  double new_rotation = plane_x.angleTo(own_x, new_normal);
  if (std::abs(new_rotation - 2 * std::numbers::pi) < 1e-12) new_rotation = 0;
  // Oblique: the angle between the up direction and the transformed slant.
  double new_oblique = 0;
  if (obl != 0) {
    double angle = up.angleTo(new_slant.normal(), new_normal);
    // Positive oblique leans toward the text's direction (clockwise from up).
    new_oblique = angle > std::numbers::pi ? 2 * std::numbers::pi - angle : -angle;
    if (mirrored) new_oblique = -new_oblique;
    if (std::abs(new_oblique) < 1e-12) new_oblique = 0;
  }

  AcGePoint3d pos = def->position();
  pos.transformBy(m);
  AcGePoint3d align = def->alignmentPoint();
  align.transformBy(m);

  Acad::ErrorStatus es = Acad::eOk;
  auto step = [&](Acad::ErrorStatus result) {
    if (es == Acad::eOk) es = result;
  };
  ACHAR* text = nullptr;
  text = def->tag();
  step(setTag(text));
  acutDelBuffer(text);
  std::int64_t def_flags = dbtags::Integer(Tags(def->objectId().stub()), 70, 0);
  step(SetFlag(stub(), 1, (def_flags & 1) != 0));
  step(SetFlag(stub(), 2, (def_flags & 2) != 0));
  step(SetFlag(stub(), 4, (def_flags & 4) != 0));
  step(SetFlag(stub(), 8, (def_flags & 8) != 0));
  step(setFieldLength(def->fieldLength()));
  // A multi-line definition gives a multi-line attribute: its embedded MTEXT is copied and
  // placed (insertion point, direction and character height transformed like the text).
  const dxf::Entity def_tags = Tags(def->objectId().stub());
  std::size_t def_start = EmbeddedStart(def_tags);
  if (def_start != dxf::kNoTag) {
    std::vector<dxf::NewTag> embedded;
    for (std::size_t i = def_start; i < EmbeddedEnd(def_tags, def_start); ++i) {
      std::optional<dxf::NewTag> tag = CopyTag(def_tags, i);
      if (!tag) continue;
      int code = tag->code;
      if ((code == 10 || code == 11) && i + 2 < def_tags.TagCount() &&
          def_tags.Code(i + 1) == code + 10 && def_tags.Code(i + 2) == code + 20) {
        // The point (10) or direction (11) with its 20/30 or 21/31 that follow.
        AcGePoint3d p(def_tags.Real(i).value_or(0), def_tags.Real(i + 1).value_or(0),
                      def_tags.Real(i + 2).value_or(0));
        if (code == 10) {
          p.transformBy(m);
        } else {
          AcGeVector3d v = p.asVector().transformBy(m);
          if (!v.isZeroLength()) v.normalize();
          p = AcGePoint3d(v.x, v.y, v.z);
        }
        embedded.push_back(dxf::NewTag::Real(code, p.x));
        embedded.push_back(dxf::NewTag::Real(code + 10, p.y));
        embedded.push_back(dxf::NewTag::Real(code + 20, p.z));
        i += 2;
        continue;
      }
      if (code == 40) tag = dxf::NewTag::Real(40, height);
      embedded.push_back(std::move(*tag));
    }
    // An attribute placed again drops its own embedded text for the definition's, which stands
    // where the definition's lands; the text is set below.
    const dxf::Entity own = Tags(stub());
    if (std::size_t own_start = EmbeddedStart(own); own_start != dxf::kNoTag) {
      std::size_t count = EmbeddedEnd(own, own_start) - own_start;
      if (!Doc(stub()).RemoveTags(stub()->record, own_start, count)) step(Acad::eInvalidInput);
    }
    if (!Doc(stub()).InsertTags(stub()->record, dbtags::OwnEnd(Tags(stub())), embedded))
      step(Acad::eInvalidInput);
  }
  AcString value;
  def->textString(value);
  step(setTextString(value.constPtr()));
  text = def->textStyleName();
  step(setTextStyleName(text));
  acutDelBuffer(text);
  text = def->layer();
  if (setLayer(text) == Acad::eKeyNotFound) step(Acad::eKeyNotFound);
  acutDelBuffer(text);
  step(setNormal(new_normal));
  step(setHeight(height));
  step(setWidthFactor(width));
  step(setOblique(new_oblique));
  step(setRotation(new_rotation));
  step(setHorizontalMode(def->horizontalMode()));
  step(setVerticalMode(def->verticalMode()));
  bool def_backward = def->isMirroredInX();
  step(mirrorInX(mirrored ? !def_backward : def_backward));
  step(mirrorInY(def->isMirroredInY()));
  step(setPosition(pos));
  if (!def->isDefaultAlignment() ||
      dbtags::FindOwn(Tags(def->objectId().stub()), 11) != dxf::kNoTag)
    step(setAlignmentPoint(align));
  return es;
}

// ---- Block references

AcDbObjectId AcDbBlockReference::blockTableRecord() const {
  std::wstring name = dbtags::Text(Tags(stub()), 2, L"");
  AcDbDatabaseImpl& db = *stub()->db;
  for (const BlockInfo& b : db.blocks)
    if (b.name == name) return AcDbObjectId(b.stub);
  for (const BlockInfo& b : db.blocks)
    if (EqualsNoCase(b.name, name)) return AcDbObjectId(b.stub);
  return {};
}

AcGeVector3d AcDbBlockReference::normal() const {
  return dbtags::Point(Tags(stub()), 210, {0, 0, 1}).asVector();
}

AcGePoint3d AcDbBlockReference::position() const {
  AcGePoint3d p = dbtags::Point(Tags(stub()), 10, AcGePoint3d::kOrigin);
  return p.transformBy(AcGeMatrix3d::planeToWorld(normal()));
}

Acad::ErrorStatus AcDbBlockReference::setPosition(const AcGePoint3d& point) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  AcGePoint3d ocs = point;
  ocs.transformBy(AcGeMatrix3d::planeToWorld(normal()).inverse());
  return Result(dbtags::SetPoint(Doc(stub()), stub()->record, 10, ocs, {2, 66}));
}

double AcDbBlockReference::rotation() const {
  return dbtags::Real(Tags(stub()), 50, 0) / kDegrees;
}

Acad::ErrorStatus AcDbBlockReference::setRotation(double radians) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (!Finite(radians)) return Acad::eInvalidInput;
  return Result(dbtags::SetOrInsert(Doc(stub()), stub()->record,
                                    dxf::NewTag::Real(50, radians * kDegrees),
                                    {43, 42, 41, 30, 20, 10}));
}

AcGeScale3d AcDbBlockReference::scaleFactors() const {
  dxf::Entity e = Tags(stub());
  return {dbtags::Real(e, 41, 1), dbtags::Real(e, 42, 1), dbtags::Real(e, 43, 1)};
}

Acad::ErrorStatus AcDbBlockReference::setScaleFactors(const AcGeScale3d& s) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  for (double f : {s.sx, s.sy, s.sz})
    if (!Finite(f) || f == 0) return Acad::eInvalidInput;
  dxf::DxfDocument& doc = Doc(stub());
  dxf::RecordId id = stub()->record;
  AcGeScale3d old = scaleFactors();
  // Factors of 1 that the file leaves out stay left out.
  bool ok = true;
  if (old.sx != s.sx) ok = ok && dbtags::SetOrInsert(doc, id, dxf::NewTag::Real(41, s.sx), {30});
  if (old.sy != s.sy)
    ok = ok && dbtags::SetOrInsert(doc, id, dxf::NewTag::Real(42, s.sy), {41, 30});
  if (old.sz != s.sz)
    ok = ok && dbtags::SetOrInsert(doc, id, dxf::NewTag::Real(43, s.sz), {42, 41, 30});
  return Result(ok);
}

AcGeMatrix3d AcDbBlockReference::blockTransform() const {
  AcGePoint3d base = AcGePoint3d::kOrigin;
  AcDbObjectId block = blockTableRecord();
  AcDbDatabaseImpl& db = *stub()->db;
  if (!block.isNull()) {
    const BlockInfo& info = db.blocks[block.stub()->block];
    if (info.block_begin != dxf::kNoRecord)
      base = dbtags::Point(db.doc().Get(info.block_begin), 10, AcGePoint3d::kOrigin);
  }
  AcGeMatrix3d scale;
  scaleFactors().getMatrix(scale);
  AcGePoint3d ocs_position = dbtags::Point(Tags(stub()), 10, AcGePoint3d::kOrigin);
  return AcGeMatrix3d::planeToWorld(normal()) * AcGeMatrix3d::translation(ocs_position.asVector()) *
         AcGeMatrix3d::rotation(rotation(), AcGeVector3d::kZAxis) * scale *
         AcGeMatrix3d::translation(-base.asVector());
}

AcDbObjectIterator* AcDbBlockReference::attributeIterator() const {
  AcDbObjectIdArray ids;
  for (AcDbStub* child : stub()->children) ids.append(AcDbObjectId(child));
  return new AcDbObjectIterator(std::move(ids));
}

Acad::ErrorStatus AcDbBlockReference::openAttribute(AcDbAttribute*& attribute, AcDbObjectId id,
                                                    AcDb::OpenMode mode, bool open_erased) {
  attribute = nullptr;
  if (id.isNull()) return Acad::eNullObjectId;
  if (id.stub()->owner != stub()) return Acad::eInvalidInput;
  return acdbOpenObject(attribute, id, mode, open_erased);
}

Acad::ErrorStatus AcDbBlockReference::appendAttribute(AcDbObjectId& id, AcDbAttribute* attribute) {
  id.setNull();
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  if (attribute == nullptr) return Acad::eNullObjectPointer;
  AcDbStub* source = AcDbDatabaseImpl::StubOf(attribute);
  if (!source->detached) return Acad::eAlreadyInDb;
  AcDbStub* ref = stub();
  AcDbDatabaseImpl& db = *ref->db;
  dxf::DxfDocument& doc = db.doc();
  const dxf::Entity from = source->db->Get(source);
  if (dbtags::Text(from, 2, L"").empty()) return Acad::eInvalidInput;
  // The layer must be one of this drawing's, written with its own spelling.
  std::wstring wanted = dbtags::Text(from, 8, L"0");
  std::wstring layer;
  for (AcDbStub* l : db.layers) {
    if (db.IsErased(l)) continue;
    std::wstring name = dbtags::Text(db.Get(l), 2, L"");
    if (EqualsNoCase(name, wanted)) {
      layer = name;
      break;
    }
  }
  if (layer.empty()) return Acad::eKeyNotFound;

  const dxf::Entity insert = db.Get(ref);
  const std::size_t name_tag = dbtags::FindOwn(insert, 2);
  if (name_tag == dxf::kNoTag) return Acad::eInvalidInput;
  const int version = doc.VersionNumber();
  // R12 drawings carry handles only with $HANDLING set; from R13 on every object has one.
  const bool handles =
      version > 1009 || doc.HeaderInteger("$HANDLING").value_or(0) != 0 || insert.handle() != 0;
  const bool subclasses = version > 1009;
  const dxf::Handle owner = insert.handle();

  std::vector<dxf::NewTag> tags = {dxf::NewTag::Text(0, L"ATTRIB")};
  if (handles) tags.push_back(dxf::NewTag::HandleRef(5, doc.NewHandle()));
  if (subclasses && owner != 0) tags.push_back(dxf::NewTag::HandleRef(330, owner));
  for (std::size_t i = 1; i < from.TagCount(); ++i) {
    int code = from.Code(i);
    if (code == dxf::kCodeXDataApp) break;  // its application would need registering here
    if (code == dxf::kCodeHandle || code == dxf::kCodeOwner) continue;  // of its own drawing
    // The embedded MTEXT of a multi-line attribute exists from R2018 on.
    if (code == 101 && version < 1032) break;
    if (!subclasses && (code == dxf::kCodeSubclass || code == 280)) continue;
    if (code == dxf::kCodeLayer) {
      tags.push_back(dxf::NewTag::Text(code, layer));
      continue;
    }
    std::optional<dxf::NewTag> tag = CopyTag(from, i);
    if (tag) tags.push_back(std::move(*tag));
    // AcDbAttribute's version (0) stands first from R2010 on.
    if (code == dxf::kCodeSubclass && from.Raw(i) == "AcDbAttribute" && version >= 1024)
      tags.push_back(dxf::NewTag::Integer(280, 0));
  }

  dxf::RecordId anchor = ref->record;
  for (AcDbStub* child : ref->children)
    if (!db.IsErased(child)) anchor = child->record;
  dxf::RecordId record = doc.InsertRecordAfter(anchor, tags);
  if (record == dxf::kNoRecord) return Acad::eInvalidInput;
  dxf::RecordId seqend = dxf::kNoRecord;
  bool ok = true;
  if (ref->seqend == dxf::kNoRecord) {
    std::vector<dxf::NewTag> end = {dxf::NewTag::Text(0, L"SEQEND")};
    if (handles) end.push_back(dxf::NewTag::HandleRef(5, doc.NewHandle()));
    if (subclasses) {
      if (owner != 0) end.push_back(dxf::NewTag::HandleRef(330, owner));
      end.push_back(dxf::NewTag::Text(dxf::kCodeSubclass, L"AcDbEntity"));
    }
    end.push_back(dxf::NewTag::Text(dxf::kCodeLayer, dbtags::Text(insert, 8, L"0")));
    seqend = doc.InsertRecordAfter(record, end);
    ok = seqend != dxf::kNoRecord;
  }
  if (ok) {
    std::size_t flag = dbtags::FindOwn(doc.Get(ref->record), dxf::kCodeEntitiesFollow);
    dxf::NewTag follows = dxf::NewTag::Integer(dxf::kCodeEntitiesFollow, 1);
    ok = flag != dxf::kNoTag ? doc.SetValue(ref->record, flag, follows)
                             : doc.InsertTags(ref->record, name_tag, {&follows, 1});
  }
  if (!ok) {
    if (seqend != dxf::kNoRecord) (void)doc.Erase(seqend);
    (void)doc.Erase(record);
    return Acad::eInvalidInput;
  }
  AcDbStub* added = db.AddStub(StubKind::kEntity, record, ref);
  ref->children.push_back(added);
  if (seqend != dxf::kNoRecord) {
    db.AddStub(StubKind::kObject, seqend, ref);
    ref->seqend = seqend;
  }
  db.AdoptObject(attribute, added);
  id = AcDbObjectId(added);
  return Acad::eOk;
}

Adesk::UInt16 AcDbMInsertBlock::columns() const {
  return static_cast<Adesk::UInt16>(dbtags::Integer(Tags(stub()), 70, 1));
}
Adesk::UInt16 AcDbMInsertBlock::rows() const {
  return static_cast<Adesk::UInt16>(dbtags::Integer(Tags(stub()), 71, 1));
}
double AcDbMInsertBlock::columnSpacing() const {
  return dbtags::Real(Tags(stub()), 44, 0);
}
double AcDbMInsertBlock::rowSpacing() const {
  return dbtags::Real(Tags(stub()), 45, 0);
}
