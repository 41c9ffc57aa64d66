#include "drawing/attributes.h"

#include <memory>
#include <string>
#include <vector>

#include "drawing/dbobject_internal.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/locale.h"

using drawing_internal::ClosedOnExit;
using drawing_internal::TakeHostString;

namespace {

// The definitions' entries, from the block record's entities in their order.
bool AppendDefinitions(AcDbObjectId block_id, AttInfoArray& list) {
  AcDbBlockTableRecord* record = nullptr;
  if (acdbOpenObject(record, block_id, AcDb::kForRead) != Acad::eOk || record == nullptr)
    return false;
  ClosedOnExit<AcDbBlockTableRecord> record_closer(record);
  AcDbBlockTableRecordIterator* raw_iterator = nullptr;
  if (record->newIterator(raw_iterator, true, true) != Acad::eOk || raw_iterator == nullptr)
    return false;
  std::unique_ptr<AcDbBlockTableRecordIterator> iterator(raw_iterator);
  for (iterator->start(); !iterator->done(); iterator->step()) {
    AcDbEntity* entity = nullptr;
    if (iterator->getEntity(entity, AcDb::kForRead) != Acad::eOk || entity == nullptr) continue;
    ClosedOnExit<AcDbEntity> entity_closer(entity);
    if (!entity->isA()->isDerivedFrom(AcDbAttributeDefinition::desc())) continue;
    const auto* definition = AcDbAttributeDefinition::cast(entity);
    AttInfo info;
    info.tag = TakeHostString(definition->tag());
    info.prompt = TakeHostString(definition->prompt());
    info.value = TakeHostString(definition->textString());
    info.isConstant = definition->isConstant();
    list.push_back(std::move(info));
  }
  return true;
}

}  // namespace

bool CollectAttributes(const AcDbBlockReference* blockReference, AttInfoArray& list) {
  if (blockReference == nullptr) return false;
  const std::size_t first = list.size();
  if (!AppendDefinitions(blockReference->blockTableRecord(), list)) {
    list.resize(first);
    return false;
  }
  const std::size_t definitions = list.size() - first;
  std::unique_ptr<AcDbObjectIterator> iterator(blockReference->attributeIterator());
  if (iterator == nullptr) return true;
  // Attributes beyond the number of definitions belong to definitions since removed from the
  // block: they update nothing, whatever their tag.
  std::vector<std::wstring> folded_tags;
  folded_tags.reserve(definitions);
  for (std::size_t i = first; i < list.size(); ++i) folded_tags.push_back(FoldCase(list[i].tag));
  std::size_t opened = 0;
  for (iterator->start(); !iterator->done(); iterator->step()) {
    AcDbAttribute* attribute = nullptr;
    if (acdbOpenObject(attribute, iterator->objectId(), AcDb::kForRead) != Acad::eOk ||
        attribute == nullptr)
      continue;
    ClosedOnExit<AcDbAttribute> attribute_closer(attribute);
    if (opened < definitions) {
      const std::wstring tag = FoldCase(TakeHostString(attribute->tag()));
      const std::wstring text = TakeHostString(attribute->textString());
      for (std::size_t i = 0; i < definitions; ++i)
        if (folded_tags[i] == tag) list[first + i].value = text;
    }
    ++opened;
  }
  return true;
}
