#include "drawing/blockrefs.h"

#include "platform/host/adscodes.h"
#include "platform/host/selection.h"

AcDbObjectIdArray SelectedBlockRefs;

int SelectBlockReferences(AcDbObjectIdArray& list) {
  resbuf filter{nullptr, 0, {}};  // group 0: the entity type
  filter.resval.rstring = const_cast<ACHAR*>(L"INSERT");
  ads_name set{0, 0};
  // What the user selected before the command comes first; the filter applies to it too.
  int rc = acedSSGet(L"_I", nullptr, nullptr, &filter, set);
  // The host takes a null mode, not "", as its ordinary "Select objects: " selection.
  if (rc != RTNORM) rc = acedSSGet(nullptr, nullptr, nullptr, &filter, set);
  if (rc != RTNORM) return 0;
  Adesk::Int32 length = 0;
  if (acedSSLength(set, &length) != RTNORM) length = 0;
  int appended = 0;
  for (Adesk::Int32 i = 0; i < length; ++i) {
    ads_name entity{0, 0};
    if (acedSSName(set, i, entity) != RTNORM) continue;
    AcDbObjectId id;
    if (acdbGetObjectId(id, entity) != Acad::eOk || id.isNull()) continue;
    list.append(id);
    ++appended;
  }
  acedSSFree(set);
  return appended;
}

void ClearSelection() {
  SelectedBlockRefs.removeAll();
}
