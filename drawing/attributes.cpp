#include "drawing/attributes.h"

#include <memory>
#include <string>
#include <unordered_map>
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

// A block's definitions as CollectAttributes starts from them, with their tags folded.
struct Definitions {
  bool read = false;  // the block record and its iterator could be opened
  AttInfoArray list;
  std::vector<std::wstring> folded_tags;
};

Definitions ReadDefinitions(AcDbObjectId block_id) {
  Definitions d;
  d.read = AppendDefinitions(block_id, d.list);
  if (!d.read) return d;
  d.folded_tags.reserve(d.list.size());
  for (const AttInfo& info : d.list) d.folded_tags.push_back(FoldCase(info.tag));
  return d;
}

// The definitions read so far, by block record, while an AttributeDefinitionsReuse lives.
std::unordered_map<AcDbObjectId, Definitions>* g_reused = nullptr;

}  // namespace

AttributeDefinitionsReuse::AttributeDefinitionsReuse() : outermost_(g_reused == nullptr) {
  if (outermost_) g_reused = new std::unordered_map<AcDbObjectId, Definitions>;
}

AttributeDefinitionsReuse::~AttributeDefinitionsReuse() {
  if (!outermost_) return;
  delete g_reused;
  g_reused = nullptr;
}

bool CollectAttributes(const AcDbBlockReference* blockReference, AttInfoArray& list) {
  if (blockReference == nullptr) return false;
  const AcDbObjectId block_id = blockReference->blockTableRecord();
  Definitions fresh;
  const Definitions* definitions = &fresh;
  if (g_reused != nullptr) {
    auto [at, added] = g_reused->try_emplace(block_id);
    if (added) at->second = ReadDefinitions(block_id);
    definitions = &at->second;
  } else {
    fresh = ReadDefinitions(block_id);
  }
  if (!definitions->read) return false;
  const std::size_t first = list.size();
  list.insert(list.end(), definitions->list.begin(), definitions->list.end());
  const std::size_t count = definitions->list.size();
  const std::vector<std::wstring>& folded_tags = definitions->folded_tags;
  std::unique_ptr<AcDbObjectIterator> iterator(blockReference->attributeIterator());
  if (iterator == nullptr) return true;
  // Attributes beyond the number of definitions belong to definitions since removed from the
  // block: they update nothing, whatever their tag.
  std::size_t opened = 0;
  for (iterator->start(); !iterator->done(); iterator->step()) {
    AcDbAttribute* attribute = nullptr;
    if (acdbOpenObject(attribute, iterator->objectId(), AcDb::kForRead) != Acad::eOk ||
        attribute == nullptr)
      continue;
    ClosedOnExit<AcDbAttribute> attribute_closer(attribute);
    if (opened < count) {
      const std::wstring tag = FoldCase(TakeHostString(attribute->tag()));
      const std::wstring text = TakeHostString(attribute->textString());
      for (std::size_t i = 0; i < count; ++i)
        if (folded_tags[i] == tag) list[first + i].value = text;
    }
    ++opened;
  }
  return true;
}
