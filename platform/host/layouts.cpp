#include "platform/host/dbapserv.h"

#include <algorithm>

#include "platform/host/dbimpl_internal.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/locale.h"

AcDbHostApplicationServices* acdbHostApplicationServices() {
  static AcDbHostApplicationServices services;
  return &services;
}

namespace {

struct LayoutInfo {
  std::wstring name;
  std::int64_t tab = 0;
  AcDbStub* layout = nullptr;
  AcDbStub* block = nullptr;
};

const AcDbDatabase* Resolve(const AcDbDatabase* db) {
  return db != nullptr ? db : acdbHostApplicationServices()->workingDatabase();
}

std::vector<LayoutInfo> Layouts(const AcDbDatabase& db) {
  std::vector<LayoutInfo> out;
  const AcDbDatabaseImpl& d = db.impl();
  if (!d.HasDocument()) return out;
  auto objects = d.doc().FindSection("OBJECTS");
  if (!objects) return out;
  for (dxf::Entity e : d.doc().Records(*objects)) {
    if (e.Type() != "LAYOUT" || e.IsErased()) continue;
    LayoutInfo info;
    std::size_t name = e.FindInSubclass("AcDbLayout", 1);
    if (name == dxf::kNoTag) continue;
    info.name = e.Text(name);
    std::size_t tab = e.FindInSubclass("AcDbLayout", 71);
    info.tab = tab == dxf::kNoTag ? 0 : e.Integer(tab).value_or(0);
    std::size_t block = e.FindInSubclass("AcDbLayout", 330);
    if (block != dxf::kNoTag) info.block = d.FindHandle(e.HandleAt(block));
    info.layout = d.FindHandle(e.handle());
    out.push_back(std::move(info));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const LayoutInfo& a, const LayoutInfo& b) { return a.tab < b.tab; });
  return out;
}

}  // namespace

Acad::ErrorStatus AcDbLayoutManager::getActiveLayoutName(ACHAR*& name, bool allow_model,
                                                         const AcDbDatabase* db) const {
  name = nullptr;
  db = Resolve(db);
  if (db == nullptr) return Acad::eNoDatabase;
  const AcDbDatabaseImpl& d = db->impl();
  std::wstring active;
  if (d.HasDocument()) {
    if (auto ctab = d.doc().HeaderText("$CTAB")) active = *ctab;
  }
  if (active.empty()) {
    if (db->tilemode()) {
      active = L"Model";
    } else {
      for (const LayoutInfo& l : Layouts(*db))
        if (l.block != nullptr && l.block == d.paper_space) active = l.name;
      if (active.empty()) active = L"Layout1";
    }
  }
  if (!allow_model && EqualsNoCase(active, L"Model")) {
    // The layout that would become current on leaving model space: the *Paper_Space one.
    active.clear();
    for (const LayoutInfo& l : Layouts(*db))
      if (l.block != nullptr && l.block == d.paper_space) active = l.name;
    if (active.empty()) active = L"Layout1";
  }
  name = acutNewString(active.c_str());
  return Acad::eOk;
}

AcString AcDbLayoutManager::findActiveLayout(bool allow_model) const {
  ACHAR* name = nullptr;
  if (getActiveLayoutName(name, allow_model) != Acad::eOk) return {};
  AcString out(name);
  acutDelBuffer(name);
  return out;
}

AcDbObjectId AcDbLayoutManager::findLayoutNamed(const ACHAR* name, const AcDbDatabase* db) const {
  db = Resolve(db);
  if (db == nullptr || name == nullptr) return {};
  for (const LayoutInfo& l : Layouts(*db))
    if (EqualsNoCase(l.name, name)) return AcDbObjectId(l.layout);
  return {};
}

AcArray<AcString> AcDbLayoutManager::layoutNames(const AcDbDatabase* db) const {
  AcArray<AcString> names;
  db = Resolve(db);
  if (db == nullptr) return names;
  std::vector<LayoutInfo> layouts = Layouts(*db);
  if (layouts.empty()) {
    names.append(AcString(L"Model"));
    names.append(AcString(L"Layout1"));
    return names;
  }
  for (const LayoutInfo& l : layouts) names.append(AcString(l.name));
  return names;
}

AcString AcDbLayoutManager::layoutNameOfBlock(AcDbObjectId block_record_id) const {
  if (block_record_id.isNull()) return {};
  AcDbStub* stub = block_record_id.stub();
  if (stub->kind != StubKind::kBlockRecord) return {};
  AcDbDatabaseImpl& d = *stub->db;
  if (stub == d.model_space) return AcString(L"Model");
  for (const LayoutInfo& l : Layouts(*d.owner()))
    if (l.block == stub) return AcString(l.name);
  // Files without LAYOUT objects (R12, some writers): the paper-space record is "Layout1".
  if (stub == d.paper_space) return AcString(L"Layout1");
  return {};
}
