#include "platform/host/rxregistry.h"

#include "platform/win/locale.h"

namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
  return EqualsNoCase(a, b);
}

}  // namespace

const AcRxClass* AcRxObject::desc() {
  static const AcRxClass cls(L"AcRxObject", nullptr);
  return &cls;
}
const AcRxClass* AcRxDictionary::desc() {
  static const AcRxClass cls(L"AcRxDictionary", AcRxObject::desc());
  return &cls;
}
const AcRxClass* AcRxDynamicLinker::desc() {
  static const AcRxClass cls(L"AcRxDynamicLinker", AcRxObject::desc());
  return &cls;
}
const AcRxClass* AcEdCommand::desc() {
  static const AcRxClass cls(L"AcEdCommand", AcRxObject::desc());
  return &cls;
}
const AcRxClass* AcEdCommandStack::desc() {
  static const AcRxClass cls(L"AcEdCommandStack", AcRxObject::desc());
  return &cls;
}

AcRxObject* AcRxDictionary::at(const ACHAR* key) const {
  if (key == nullptr) return nullptr;
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : it->second.get();
}

AcRxObject* AcRxDictionary::atPut(const ACHAR* key, AcRxObject* object) {
  if (key == nullptr) return object;
  std::unique_ptr<AcRxObject>& slot = entries_[key];
  AcRxObject* previous = slot.release();
  slot.reset(object);
  return previous;
}

AcRxDictionary* acrxSysRegistry() {
  static AcRxDictionary* registry = [] {
    auto* d = new AcRxDictionary();
    d->atPut(ACRX_COMMAND_DOCK, new AcEdCommandStack());
    d->atPut(ACRX_DYNAMIC_LINKER, new AcRxDynamicLinker());
    return d;
  }();
  return registry;
}

bool acrxBuildClassHierarchy() {
  // Classes are linked to their parents when they are made; nothing is left to link.
  return true;
}

bool AcRxDynamicLinker::registerAppMDIAware(void* app) const {
  auto it = apps_.find(app);
  if (it == apps_.end()) return false;
  it->second.mdi_aware = true;
  return true;
}

bool AcRxDynamicLinker::isAppMDIAware(void* app) const {
  auto it = apps_.find(app);
  return it != apps_.end() && it->second.mdi_aware;
}

bool AcRxDynamicLinker::unlockApplication(void* app) const {
  auto it = apps_.find(app);
  if (it == apps_.end()) return false;
  it->second.locked = false;
  return true;
}

bool AcRxDynamicLinker::isApplicationLocked(void* app) const {
  auto it = apps_.find(app);
  return it != apps_.end() && it->second.locked;
}

void AcRxDynamicLinker::Add(void* app, std::wstring path) const {
  apps_[app] = AppState{std::move(path), true, false};
}

void AcRxDynamicLinker::Remove(void* app) const {
  apps_.erase(app);
}

const AcRxDynamicLinker::AppState* AcRxDynamicLinker::Find(void* app) const {
  auto it = apps_.find(app);
  return it == apps_.end() ? nullptr : &it->second;
}

namespace {
AcRxDynamicLinker* Linker() {
  return AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER));
}
}  // namespace

bool acrxUnlockApplication(void* app) {
  AcRxDynamicLinker* linker = Linker();
  return linker != nullptr && linker->unlockApplication(app);
}

bool acrxApplicationIsLocked(void* app) {
  AcRxDynamicLinker* linker = Linker();
  return linker != nullptr && linker->isApplicationLocked(app);
}

Acad::ErrorStatus AcEdCommandStack::addCommand(const ACHAR* group, const ACHAR* global_name,
                                               const ACHAR* local_name, Adesk::Int32 flags,
                                               AcRxFunctionPtr function, AcEdUIContext*,
                                               int function_code, HINSTANCE__* resource,
                                               AcEdCommand** command) {
  if (group == nullptr || global_name == nullptr || local_name == nullptr || function == nullptr ||
      *group == 0 || *global_name == 0 || *local_name == 0)
    return Acad::eInvalidInput;
  Group* target = nullptr;
  for (Group& g : groups_)
    if (SameName(g.name, group)) target = &g;
  if (target == nullptr) target = &groups_.emplace_back(Group{group, {}});
  for (const auto& c : target->commands)
    if (SameName(c->global_, global_name)) return Acad::eDuplicateKey;
  auto made = std::make_unique<AcEdCommand>();
  made->group_ = target->name;
  made->global_ = global_name;
  made->local_ = local_name;
  made->flags_ = flags;
  made->function_ = function;
  made->code_ = function_code;
  made->resource_ = resource;
  if (command != nullptr) *command = made.get();
  target->commands.push_back(std::move(made));
  return Acad::eOk;
}

Acad::ErrorStatus AcEdCommandStack::removeCmd(const ACHAR* group, const ACHAR* global_name) {
  if (group == nullptr || global_name == nullptr) return Acad::eInvalidInput;
  for (Group& g : groups_) {
    if (!SameName(g.name, group)) continue;
    for (auto it = g.commands.begin(); it != g.commands.end(); ++it)
      if (SameName((*it)->global_, global_name)) {
        g.commands.erase(it);
        return Acad::eOk;
      }
  }
  return Acad::eKeyNotFound;
}

Acad::ErrorStatus AcEdCommandStack::removeGroup(const ACHAR* group) {
  if (group == nullptr) return Acad::eInvalidInput;
  for (auto it = groups_.begin(); it != groups_.end(); ++it)
    if (SameName(it->name, group)) {
      groups_.erase(it);
      return Acad::eOk;
    }
  return Acad::eKeyNotFound;
}

AcEdCommand* AcEdCommandStack::lookupCmd(const ACHAR* name) const {
  if (name == nullptr) return nullptr;
  std::wstring word = name;
  bool global_only = false;
  // "_" asks for the global name, "." for the command itself (never a redefinition): both
  // prefixes may come together, in either order.
  while (!word.empty() && (word[0] == L'_' || word[0] == L'.')) {
    if (word[0] == L'_') global_only = true;
    word.erase(0, 1);
  }
  if (word.empty()) return nullptr;
  for (auto g = groups_.rbegin(); g != groups_.rend(); ++g)
    for (const auto& c : g->commands)
      if (SameName(c->global_, word) || (!global_only && SameName(c->local_, word))) return c.get();
  return nullptr;
}

std::vector<const AcEdCommand*> AcEdCommandStack::Commands() const {
  std::vector<const AcEdCommand*> out;
  for (auto g = groups_.rbegin(); g != groups_.rend(); ++g)
    for (const auto& c : g->commands) out.push_back(c.get());
  return out;
}

AcEdCommandStack* acedRegCmds() {
  return AcEdCommandStack::cast(acrxSysRegistry()->at(ACRX_COMMAND_DOCK));
}
