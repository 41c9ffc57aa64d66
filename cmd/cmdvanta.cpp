#include "cmd/cmdvanta.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/message.h"

namespace {

const wchar_t kModule[] = L"cmd\\cmdvanta";
// glibc's wide printf reads %s as a narrow string; %ls gives the "%s" text of the Windows CRT.
const wchar_t kAssertFormat[] = L"Module: %ls\nLine: %d\nCondition: %ls";

// A programming check that failed: shown to the user, who can go on working.
void ShowAssertion(int line, const wchar_t* condition) {
  wchar_t text[256];
  std::swprintf(text, std::size(text), kAssertFormat, kModule, line, condition);
  MessageBoxW(nullptr, text, L"Assertion failed", MB_ICONSTOP);
}

// Closes an opened object on every way out of a scope.
struct Closer {
  void operator()(AcDbObject* object) const { object->close(); }
};
template <typename T>
using OpenObject = std::unique_ptr<T, Closer>;

// A text the host allocated for the caller, freed on the way out.
class HostText {
 public:
  explicit HostText(ACHAR* text) : text_(text) {}
  ~HostText() { acutDelBuffer(text_); }
  HostText(const HostText&) = delete;
  HostText& operator=(const HostText&) = delete;
  const ACHAR* get() const { return text_ != nullptr ? text_ : L""; }

 private:
  ACHAR* text_;
};

bool SameTag(const ACHAR* a, const ACHAR* b) {
  return AcString(a).compareNoCase(b) == 0;
}

// Field lengths are 16-bit in the drawing; longer texts keep the largest one.
Adesk::UInt16 FieldLength(std::size_t characters) {
  return static_cast<Adesk::UInt16>(std::min<std::size_t>(characters, 0xFFFF));
}

// Opens `handle` for write as a block reference.
OpenObject<AcDbBlockReference> OpenReferenceForWrite(const std::wstring& handle) {
  AcDbEntity* entity = nullptr;
  if (!OpenEntityByHandle(handle, AcDb::kForWrite, entity)) return nullptr;
  AcDbBlockReference* ref = AcDbBlockReference::cast(entity);
  if (ref == nullptr) entity->close();
  return OpenObject<AcDbBlockReference>(ref);
}

// The common course of the three geometric setters: the setter, then the refit on the still
// open reference.
template <typename Setter>
bool ChangeReference(const std::wstring& handle, Setter&& set) {
  OpenObject<AcDbBlockReference> ref = OpenReferenceForWrite(handle);
  if (!ref) return false;
  if (set(*ref) != Acad::eOk) return false;
  return RefitAttributes(ref.get());
}

// Sets `value` as the text of `att` with its character count as field length. The text goes
// first: one the attribute cannot hold (a line break in a single-line attribute) leaves the
// attribute untouched.
bool WriteValue(AcDbAttribute* att, const std::wstring& value) {
  if (att->setTextString(value.c_str()) != Acad::eOk) return false;
  return att->setFieldLength(FieldLength(value.size())) == Acad::eOk;
}

}  // namespace

bool OpenEntityByHandle(const std::wstring& handle, AcDb::OpenMode mode, AcDbEntity*& entity) {
  entity = nullptr;
  AcDbHandle h(handle.c_str());
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return false;
  AcDbObjectId id;
  if (db->getAcDbObjectId(id, false, h, 0) != Acad::eOk) return false;
  return acdbOpenAcDbEntity(entity, id, mode, false) == Acad::eOk;
}

bool SetAttributesByTag(const std::wstring& handle, const std::vector<std::wstring>& tags,
                        const std::vector<std::wstring>& values) {
  if (tags.size() != values.size()) return false;
  AcDbEntity* entity = nullptr;
  if (!OpenEntityByHandle(handle, AcDb::kForRead, entity)) return false;
  OpenObject<AcDbEntity> guard(entity);
  AcDbBlockReference* ref = AcDbBlockReference::cast(entity);
  if (ref == nullptr) return false;

  std::size_t matches = 0;
  std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
  // The host always gives an iterator; without one there is nothing to match.
  if (!it) return values.empty();
  for (it->start(); !it->done(); it->step()) {
    AcDbAttribute* opened = nullptr;
    if (ref->openAttribute(opened, it->objectId(), AcDb::kForWrite, false) != Acad::eOk) continue;
    OpenObject<AcDbAttribute> att(opened);
    HostText tag(att->tag());
    // No early exit: every header equal to this tag is applied, the last one stands.
    for (std::size_t i = 0; i < tags.size(); ++i) {
      if (!SameTag(tag.get(), tags[i].c_str())) continue;
      if (WriteValue(att.get(), values[i])) ++matches;
    }
  }
  return matches == values.size();
}

bool SetEntityLayer(const std::wstring& handle, const std::wstring& layer) {
  AcDbEntity* entity = nullptr;
  if (!OpenEntityByHandle(handle, AcDb::kForWrite, entity)) return false;
  OpenObject<AcDbEntity> guard(entity);
  return entity->setLayer(layer.c_str()) == Acad::eOk;
}

bool SetBlockPosition(const std::wstring& handle, const AcGePoint3d& position) {
  return ChangeReference(handle,
                         [&](AcDbBlockReference& ref) { return ref.setPosition(position); });
}

bool SetBlockRotation(const std::wstring& handle, double rotation) {
  return ChangeReference(handle,
                         [&](AcDbBlockReference& ref) { return ref.setRotation(rotation); });
}

bool SetBlockScale(const std::wstring& handle, const AcGeScale3d& scale) {
  return ChangeReference(handle,
                         [&](AcDbBlockReference& ref) { return ref.setScaleFactors(scale); });
}

bool RefitAttributes(AcDbBlockReference* ref) {
  if (ref == nullptr || !ref->isReadEnabled()) return false;
  std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
  if (!it) return true;
  const AcGeMatrix3d transform = ref->blockTransform();
  bool ok = true;
  for (it->start(); !it->done(); it->step()) {
    AcDbAttribute* opened = nullptr;
    if (ref->openAttribute(opened, it->objectId(), AcDb::kForWrite, false) != Acad::eOk) continue;
    OpenObject<AcDbAttribute> att(opened);
    AcDbAttributeDefinition* found = nullptr;
    if (!FindAttributeDefinition(ref, att.get(), found, AcDb::kForRead)) continue;
    OpenObject<AcDbAttributeDefinition> def(found);
    AcString kept;
    if (att->textString(kept) != Acad::eOk) {
      ok = false;
      continue;
    }
    // Placing resets the text to the definition's default; the drawing's text is put back
    // whatever the placing answered.
    if (att->setAttributeFromBlock(def.get(), transform) != Acad::eOk) ok = false;
    if (att->setFieldLength(FieldLength(kept.str().size() + 1)) != Acad::eOk) ok = false;
    if (att->setTextString(kept.constPtr()) != Acad::eOk) ok = false;
  }
  return ok;
}

bool FindAttributeDefinition(AcDbBlockReference* ref, AcDbAttribute* att,
                             AcDbAttributeDefinition*& def, AcDb::OpenMode mode) {
  def = nullptr;
  if (ref == nullptr) {
    ShowAssertion(__LINE__, L"pRef != NULL");
    return false;
  }
  if (att == nullptr) {
    ShowAssertion(__LINE__, L"pAtt != NULL");
    return false;
  }
  HostText tag(att->tag());
  AcDbObject* opened = nullptr;
  if (acdbOpenAcDbObject(opened, ref->blockTableRecord(), AcDb::kForRead, false) != Acad::eOk)
    return false;
  OpenObject<AcDbObject> guard(opened);
  AcDbBlockTableRecord* block = AcDbBlockTableRecord::cast(opened);
  if (block == nullptr) return false;
  AcDbBlockTableRecordIterator* raw = nullptr;
  if (block->newIterator(raw, true, true) != Acad::eOk || raw == nullptr) return false;
  std::unique_ptr<AcDbBlockTableRecordIterator> it(raw);
  for (; !it->done(); it->step()) {
    AcDbEntity* entity = nullptr;
    if (it->getEntity(entity, mode, false) != Acad::eOk) continue;
    auto* candidate = AcDbAttributeDefinition::cast(entity);
    if (candidate != nullptr) {
      HostText candidate_tag(candidate->tag());
      if (SameTag(candidate_tag.get(), tag.get())) {
        def = candidate;  // stays open for the caller
        return true;
      }
    }
    entity->close();
  }
  return false;
}
