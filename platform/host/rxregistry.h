// The host's runtime registry as an application sees it (rxregsvc.h, rxdlinkr.h, accmd.h,
// aced.h's command stack): runtime classes with their hierarchy, the system registry dictionary
// with the command stack ("ACAD_REGISTERED_COMMANDS") and the dynamic linker ("DynamicLinker"),
// command groups, and the messages the host sends an application (AcRx::AppMsgCode).
// Left out: protocol extensions, reactors, demand loading, UI contexts (accepted and kept, never
// used), transparent and pick-first command flags' effects (kept for the command line).
//
//   AcEdCommandStack* stack = AcEdCommandStack::cast(acrxSysRegistry()->at(ACRX_COMMAND_DOCK));
//   stack->addCommand(L"Sheetwise", L"vanta", L"vanta", ACRX_CMD_MODAL, &VantaCommand);
//   ...
//   stack->removeGroup(L"Sheetwise");
//
// Threads: the host's main thread; the registry is not locked.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/acdbcore.h"
#include "platform/host/adscodes.h"
#include "platform/host/dbmain.h"

namespace AcRx {
/// The messages the host sends to an application's acrxEntryPoint.
enum AppMsgCode {
  kNullMsg = 0,
  kInitAppMsg = 1,
  kUnloadAppMsg = 2,
  kLoadDwgMsg = 3,
  kUnloadDwgMsg = 4,
  kInvkSubrMsg = 5,
  kCfgMsg = 6,
  kEndMsg = 7,
  kQuitMsg = 8,
  kSaveMsg = 9,
  kDependencyMsg = 10,
  kNoDependencyMsg = 11,
  kOleUnloadAppMsg = 12,
  kPreQuitMsg = 13,
  kInitDialogMsg = 14,
  kEndDialogMsg = 15,
};
enum AppRetCode { kRetOK = 0, kRetError = 3 };
}  // namespace AcRx

class AcRxObject;

#define SW_RX_DECLARE_MEMBERS(CLASS)                                  \
  static const AcRxClass* desc();                                     \
  const AcRxClass* isA() const override {                             \
    return desc();                                                    \
  }                                                                   \
  static CLASS* cast(const AcRxObject* object) {                      \
    return object != nullptr && object->isKindOf(desc())              \
               ? static_cast<CLASS*>(const_cast<AcRxObject*>(object)) \
               : nullptr;                                             \
  }

/// The root of the registry's objects (the drawing's objects have their own root, AcDbObject).
class AcRxObject {
 public:
  virtual ~AcRxObject() = default;
  static const AcRxClass* desc();
  virtual const AcRxClass* isA() const { return desc(); }
  bool isKindOf(const AcRxClass* cls) const { return isA()->isDerivedFrom(cls); }
};

/// A dictionary of named objects (the system registry is one).
class AcRxDictionary : public AcRxObject {
 public:
  SW_RX_DECLARE_MEMBERS(AcRxDictionary)
  /// The object of `key` (case-sensitive, as the host's keys are), or null.
  AcRxObject* at(const ACHAR* key) const;
  /// Stores `object` under `key` (owned by the dictionary); returns the object it replaced,
  /// which the caller then owns, or null.
  AcRxObject* atPut(const ACHAR* key, AcRxObject* object);
  Adesk::UInt32 numEntries() const { return static_cast<Adesk::UInt32>(entries_.size()); }

 private:
  std::map<std::wstring, std::unique_ptr<AcRxObject>> entries_;
};

inline constexpr const ACHAR* ACRX_COMMAND_DOCK = L"ACAD_REGISTERED_COMMANDS";
inline constexpr const ACHAR* ACRX_DYNAMIC_LINKER = L"DynamicLinker";

/// The process's system registry: the command stack and the dynamic linker are in it.
AcRxDictionary* acrxSysRegistry();
/// Links the runtime classes into their hierarchy (done at start; an application calls it again
/// after adding classes). Returns true.
bool acrxBuildClassHierarchy();

/// The applications the host has loaded, by their packet (the value passed to acrxEntryPoint).
class AcRxDynamicLinker : public AcRxObject {
 public:
  SW_RX_DECLARE_MEMBERS(AcRxDynamicLinker)
  /// Marks the application as able to serve several documents; false for an unknown packet.
  bool registerAppMDIAware(void* app) const;
  bool isAppMDIAware(void* app) const;
  /// Marks it unloadable; false for an unknown packet.
  bool unlockApplication(void* app) const;
  bool isApplicationLocked(void* app) const;

  // The host's side.
  struct AppState {
    std::wstring path;
    bool locked = true;
    bool mdi_aware = false;
  };
  void Add(void* app, std::wstring path) const;
  void Remove(void* app) const;
  const AppState* Find(void* app) const;

 private:
  mutable std::map<void*, AppState> apps_;
};

bool acrxUnlockApplication(void* app);
bool acrxApplicationIsLocked(void* app);

/// Command flags.
inline constexpr Adesk::Int32 ACRX_CMD_MODAL = 0x00000000;
inline constexpr Adesk::Int32 ACRX_CMD_TRANSPARENT = 0x00000001;
inline constexpr Adesk::Int32 ACRX_CMD_USEPICKSET = 0x00000002;
inline constexpr Adesk::Int32 ACRX_CMD_REDRAW = 0x00000004;
inline constexpr Adesk::Int32 ACRX_CMD_SESSION = 0x00200000;

using AcRxFunctionPtr = void (*)();
class AcEdUIContext;
struct HINSTANCE__;

/// One registered command.
class AcEdCommand : public AcRxObject {
 public:
  SW_RX_DECLARE_MEMBERS(AcEdCommand)
  const ACHAR* globalName() const { return global_.c_str(); }
  const ACHAR* localName() const { return local_.c_str(); }
  const ACHAR* groupName() const { return group_.c_str(); }
  Adesk::Int32 commandFlags() const { return flags_; }
  AcRxFunctionPtr functionAddr() const { return function_; }
  int functionCode() const { return code_; }
  HINSTANCE__* resourceHandle() const { return resource_; }

 private:
  friend class AcEdCommandStack;
  std::wstring group_, global_, local_;
  Adesk::Int32 flags_ = 0;
  AcRxFunctionPtr function_ = nullptr;
  int code_ = -1;
  HINSTANCE__* resource_ = nullptr;
};

/// The registered commands, in groups; the group added last is searched first.
class AcEdCommandStack : public AcRxObject {
 public:
  SW_RX_DECLARE_MEMBERS(AcEdCommandStack)
  /// Adds a command to a group (made when new). eInvalidInput for empty names or a null
  /// function; eDuplicateKey when the group has a command of that global name already.
  Acad::ErrorStatus addCommand(const ACHAR* group, const ACHAR* global_name,
                               const ACHAR* local_name, Adesk::Int32 flags,
                               AcRxFunctionPtr function, AcEdUIContext* ui_context = nullptr,
                               int function_code = -1, HINSTANCE__* resource = nullptr,
                               AcEdCommand** command = nullptr);
  /// Removes one command; eKeyNotFound when the group has none of that global name.
  Acad::ErrorStatus removeCmd(const ACHAR* group, const ACHAR* global_name);
  /// Removes a whole group; eKeyNotFound when there is no such group.
  Acad::ErrorStatus removeGroup(const ACHAR* group);
  /// The command a user's word names: "_name" by global name only, ".name" and "name" by global
  /// or local name; letter case ignored; the newest group first. Null when none.
  AcEdCommand* lookupCmd(const ACHAR* name) const;
  /// Every command, newest group first (for help listings).
  std::vector<const AcEdCommand*> Commands() const;

 private:
  struct Group {
    std::wstring name;
    std::vector<std::unique_ptr<AcEdCommand>> commands;
  };
  std::vector<Group> groups_;  // in the order they were made
};

/// The command stack of the system registry.
AcEdCommandStack* acedRegCmds();
