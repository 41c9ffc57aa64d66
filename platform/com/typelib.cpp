#include "platform/com/typelib.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"
#include "platform/com/variant.h"
#include "platform/win/locale.h"
#include "platform/win/registry.h"

namespace {

using typelib_detail::InterfaceDesc;
using typelib_detail::MemberDesc;

// Answered only by libraries built here, so RegisterTypeLib can refuse foreign ones.
constexpr IID kIID_BuiltTypeLib = {
    0x5B1C6E2C, 0x8F0D, 0x4C4E, {0x9A, 0x61, 0x3D, 0x27, 0x0B, 0xE4, 0x51, 0x90}};

BSTR MakeBstr(const std::wstring& s) {
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

class TypeLib;

class TypeInfo final : public ITypeInfo {
 public:
  TypeInfo(TypeLib* lib, UINT index, InterfaceDesc desc);

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR** attr) override;
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override;
  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override;
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;

  const InterfaceDesc& desc() const { return desc_; }

 private:
  const MemberDesc* Lookup(MEMBERID id, WORD flags) const;

  TypeLib* lib_;
  UINT index_;
  InterfaceDesc desc_;                      // members sorted by DISPID
  std::vector<std::wstring> folded_names_;  // FoldCase of each member's name, same order
};

class TypeLib final : public ITypeLib {
 public:
  TypeLib(const TLIBATTR& attr, std::wstring name, std::wstring help)
      : attr_(attr), name_(std::move(name)), help_(std::move(help)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_ITypeLib || riid == IID_IAgileObject ||
        riid == kIID_BuiltTypeLib) {
      AddRef();
      *ppv = static_cast<ITypeLib*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
  }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = infos_[index].get();
    (*info)->AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    for (auto& ti : infos_) {
      if (ti->desc().iid == guid) {
        *info = ti.get();
        ti->AddRef();
        return S_OK;
      }
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    *attr = new TLIBATTR(attr_);
    return S_OK;
  }
  void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override {
    if (index == -1) {
      if (name) *name = MakeBstr(name_);
      if (doc) *doc = MakeBstr(help_);
      if (help_context) *help_context = 0;
      if (help_file) *help_file = nullptr;
      return S_OK;
    }
    if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    return infos_[index]->GetDocumentation(MEMBERID_NIL, name, doc, help_context, help_file);
  }

  void Add(InterfaceDesc desc) {
    infos_.push_back(
        std::make_unique<TypeInfo>(this, static_cast<UINT>(infos_.size()), std::move(desc)));
  }
  const std::vector<std::unique_ptr<TypeInfo>>& infos() const { return infos_; }
  const TLIBATTR& attr() const { return attr_; }
  const std::wstring& help() const { return help_; }

 private:
  ~TypeLib() = default;

  std::atomic<ULONG> refs_{1};
  TLIBATTR attr_;
  std::wstring name_;
  std::wstring help_;
  std::vector<std::unique_ptr<TypeInfo>> infos_;  // fixed once built
};

TypeInfo::TypeInfo(TypeLib* lib, UINT index, InterfaceDesc desc)
    : lib_(lib), index_(index), desc_(std::move(desc)) {
  std::stable_sort(desc_.members.begin(), desc_.members.end(),
                   [](const MemberDesc& a, const MemberDesc& b) { return a.id < b.id; });
  for (const MemberDesc& m : desc_.members) folded_names_.push_back(FoldCase(m.name));
}

HRESULT TypeInfo::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_ITypeInfo || riid == IID_IAgileObject) {
    AddRef();
    *ppv = static_cast<ITypeInfo*>(this);
    return S_OK;
  }
  return E_NOINTERFACE;
}
// A type information lives as long as its library.
ULONG TypeInfo::AddRef() {
  return lib_->AddRef();
}
ULONG TypeInfo::Release() {
  return lib_->Release();
}

HRESULT TypeInfo::GetTypeAttr(TYPEATTR** attr) {
  if (!attr) return E_INVALIDARG;
  auto* a = new TYPEATTR{};
  a->guid = desc_.iid;
  a->memidConstructor = MEMBERID_NIL;
  a->memidDestructor = MEMBERID_NIL;
  a->typekind = TKIND_DISPATCH;
  a->cFuncs = static_cast<WORD>(desc_.members.size());
  a->wTypeFlags = TYPEFLAG_FDISPATCHABLE | (desc_.kind == TypeKind::kDual ? TYPEFLAG_FDUAL : 0);
  a->wMajorVerNum = lib_->attr().wMajorVerNum;
  a->wMinorVerNum = lib_->attr().wMinorVerNum;
  *attr = a;
  return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids) return E_INVALIDARG;
  if (count == 0) return S_OK;
  std::fill(ids, ids + count, DISPID_UNKNOWN);
  if (!names[0]) return DISP_E_UNKNOWNNAME;
  const std::wstring wanted = FoldCase(names[0]);
  const MemberDesc* member = nullptr;
  for (size_t i = 0; i < desc_.members.size(); ++i) {
    if (folded_names_[i] == wanted) {
      // Prefer the member that carries parameter names (a method or a property get).
      if (!member || (member->param_names.empty() && !desc_.members[i].param_names.empty())) {
        member = &desc_.members[i];
      }
    }
  }
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (UINT k = 1; k < count; ++k) {
    hr = DISP_E_UNKNOWNNAME;
    if (!names[k]) continue;
    const std::wstring param = FoldCase(names[k]);
    for (size_t p = 0; p < member->param_names.size(); ++p) {
      if (FoldCase(member->param_names[p]) == param) {
        ids[k] = static_cast<MEMBERID>(p);
        hr = S_OK;
        break;
      }
    }
    if (hr != S_OK) break;
  }
  if (hr != S_OK) return DISP_E_UNKNOWNNAME;
  return S_OK;
}

const MemberDesc* TypeInfo::Lookup(MEMBERID id, WORD flags) const {
  auto it = std::lower_bound(desc_.members.begin(), desc_.members.end(), id,
                             [](const MemberDesc& m, MEMBERID v) { return m.id < v; });
  const MemberDesc* fallback = nullptr;
  for (; it != desc_.members.end() && it->id == id; ++it) {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      if (it->kind == INVOKE_PROPERTYPUT || it->kind == INVOKE_PROPERTYPUTREF) return &*it;
      continue;
    }
    if ((flags & DISPATCH_METHOD) && it->kind == INVOKE_FUNC) return &*it;
    if ((flags & DISPATCH_PROPERTYGET) && it->kind == INVOKE_PROPERTYGET) fallback = &*it;
  }
  return fallback;
}

HRESULT TypeInfo::Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (!instance || !params) return E_INVALIDARG;
  if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
  if (params->cNamedArgs > params->cArgs || (params->cNamedArgs && !params->rgdispidNamedArgs)) {
    return E_INVALIDARG;
  }
  const MemberDesc* m = Lookup(id, flags);
  if (!m || !m->invoke) return DISP_E_MEMBERNOTFOUND;
  const UINT n = static_cast<UINT>(m->param_types.size());
  if (params->cArgs != n) return DISP_E_BADPARAMCOUNT;

  // Where each declared parameter comes from in rgvarg: named ones first, the positional ones
  // last-first after them.
  constexpr UINT kInline = 8;
  UINT inline_slots[kInline];
  std::vector<UINT> heap_slots;
  UINT* slot = inline_slots;
  if (n > kInline) {
    heap_slots.resize(n);
    slot = heap_slots.data();
  }
  std::fill(slot, slot + n, UINT(-1));
  const bool put = (m->kind == INVOKE_PROPERTYPUT || m->kind == INVOKE_PROPERTYPUTREF);
  const UINT named = params->cNamedArgs;
  for (UINT i = 0; i < named; ++i) {
    DISPID target = params->rgdispidNamedArgs[i];
    if (put && target == DISPID_PROPERTYPUT) target = static_cast<DISPID>(n - 1);
    if (target < 0 || static_cast<UINT>(target) >= n || slot[target] != UINT(-1)) {
      if (arg_err) *arg_err = i;
      return DISP_E_PARAMNOTFOUND;
    }
    slot[target] = i;
  }
  const UINT positional = n - named;
  for (UINT k = 0; k < positional; ++k) {
    if (slot[k] != UINT(-1)) {
      if (arg_err) *arg_err = n - 1 - k;
      return DISP_E_PARAMNOTFOUND;  // a named argument took a positional one's place
    }
    slot[k] = n - 1 - k;
  }

  // Coerce each argument to its declared type. Arguments already of that type are borrowed as
  // they are: no copies on the common path.
  VARIANT inline_args[kInline];
  std::vector<VARIANT> heap_args;
  VARIANT* args = inline_args;
  if (n > kInline) {
    heap_args.resize(n);
    args = heap_args.data();
  }
  unsigned owned_mask_inline = 0;
  std::vector<bool> owned_heap(n > kInline ? n : 0);
  auto set_owned = [&](UINT k) {
    if (n > kInline) {
      owned_heap[k] = true;
    } else {
      owned_mask_inline |= 1u << k;
    }
  };
  auto is_owned = [&](UINT k) {
    return n > kInline ? static_cast<bool>(owned_heap[k]) : ((owned_mask_inline >> k) & 1u) != 0;
  };
  auto clear_owned = [&](UINT upto) {
    for (UINT k = 0; k < upto; ++k) {
      if (is_owned(k)) VariantClear(&args[k]);
    }
  };
  for (UINT k = 0; k < n; ++k) {
    bool owned = false;
    if (FAILED(typelib_detail::CoerceArgument(params->rgvarg[slot[k]], m->param_types[k], &args[k],
                                              &owned))) {
      clear_owned(k);
      if (arg_err) *arg_err = slot[k];
      return DISP_E_TYPEMISMATCH;
    }
    if (owned) set_owned(k);
  }

  VARIANT ret;
  VariantInit(&ret);
  HRESULT hr = m->invoke(instance, args, &ret);
  clear_owned(n);
  if (FAILED(hr)) {
    VariantClear(&ret);
    // As oleaut32 does: the method's failure becomes an exception, described by the error
    // information the method left (taken, so it does not linger on this thread).
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
    if (excep) {
      *excep = EXCEPINFO{};
      excep->scode = hr;
      if (info) {
        info->GetSource(&excep->bstrSource);
        info->GetDescription(&excep->bstrDescription);
        info->GetHelpFile(&excep->bstrHelpFile);
        info->GetHelpContext(&excep->dwHelpContext);
      }
    }
    if (info) info->Release();
    return DISP_E_EXCEPTION;
  }
  if (result) {
    *result = ret;
  } else {
    VariantClear(&ret);
  }
  return S_OK;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                                   BSTR* help_file) {
  const std::wstring* n = nullptr;
  const std::wstring* h = nullptr;
  if (id == MEMBERID_NIL) {
    n = &desc_.name;
    h = &desc_.help;
  } else {
    for (const MemberDesc& m : desc_.members) {
      if (m.id == id) {
        n = &m.name;
        h = &m.help;
        break;
      }
    }
    if (!n) return TYPE_E_ELEMENTNOTFOUND;
  }
  if (name) *name = MakeBstr(*n);
  if (doc) *doc = MakeBstr(*h);
  if (help_context) *help_context = 0;
  if (help_file) *help_file = nullptr;
  return S_OK;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (lib) {
    *lib = lib_;
    lib_->AddRef();
  }
  if (index) *index = index_;
  return S_OK;
}

// ---- Registration -----------------------------------------------------------------------------

struct Registration {
  GUID libid;
  WORD major;
  WORD minor;
  TypeLib* lib;  // one reference
};
std::mutex g_registry_mutex;
std::vector<Registration>& Registry() {  // guarded by g_registry_mutex
  static auto* registry = new std::vector<Registration>();
  return *registry;
}

bool Sane(const MemberDesc& m) {
  return !m.name.empty();
}

}  // namespace

HRESULT typelib_detail::CoerceArgument(const VARIANT& src, VARTYPE vt, VARIANT* out, bool* owned) {
  *owned = false;
  if (vt == VT_VARIANT) {
    *out = (src.vt == (VT_BYREF | VT_VARIANT) && src.pvarVal) ? *src.pvarVal : src;
    return S_OK;
  }
  if (vt & VT_BYREF) {
    const auto base = static_cast<VARTYPE>(vt & ~VT_BYREF);
    if (src.vt == vt) {
      *out = src;
      return S_OK;
    }
    if (src.vt == (VT_BYREF | VT_VARIANT) && src.pvarVal && src.pvarVal->vt == base) {
      VariantInit(out);
      out->vt = vt;
      out->byref = &src.pvarVal->llVal;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }
  if (src.vt == vt) {
    *out = src;
    return S_OK;
  }
  VariantInit(out);
  HRESULT hr = VariantChangeType(out, &src, 0, vt);
  if (FAILED(hr)) return hr;
  *owned = true;
  return S_OK;
}

InterfaceBuilder& InterfaceBuilder::Event(DISPID id, std::wstring name, std::wstring help,
                                          std::initializer_list<VARTYPE> types,
                                          std::initializer_list<const wchar_t*> param_names) {
  typelib_detail::MemberDesc m;
  m.id = id;
  m.kind = INVOKE_FUNC;
  m.name = std::move(name);
  m.help = std::move(help);
  m.param_types = types;
  for (const wchar_t* p : param_names) m.param_names.emplace_back(p ? p : L"");
  desc_->members.push_back(std::move(m));
  return *this;
}

void InterfaceBuilder::AddMember(typelib_detail::MemberDesc m,
                                 std::initializer_list<const wchar_t*> param_names,
                                 std::initializer_list<VARTYPE> types) {
  for (const wchar_t* p : param_names) m.param_names.emplace_back(p ? p : L"");
  if (types.size() != 0) {
    // Only overrides that keep the C++ layout of the parameter are allowed.
    auto same_layout = [](VARTYPE deduced, VARTYPE wanted) {
      if (deduced == wanted) return true;
      const VARTYPE d = deduced & ~VT_BYREF, w = wanted & ~VT_BYREF;
      if ((deduced & VT_BYREF) != (wanted & VT_BYREF)) return false;
      return (d == VT_I2 && w == VT_BOOL) || (d == VT_R8 && w == VT_DATE) ||
             (d == VT_I4 && (w == VT_ERROR || w == VT_INT)) || (d == VT_UI4 && w == VT_UINT) ||
             (d == VT_I8 && w == VT_CY);
    };
    if (types.size() != m.param_types.size()) {
      desc_->bad = true;
    } else {
      size_t k = 0;
      for (VARTYPE vt : types) {
        if (!same_layout(m.param_types[k], vt)) desc_->bad = true;
        m.param_types[k++] = vt;
      }
    }
  }
  if (!Sane(m)) desc_->bad = true;
  desc_->members.push_back(std::move(m));
}

TypeLibBuilder::TypeLibBuilder(REFGUID libid, WORD major, WORD minor, std::wstring name,
                               std::wstring help)
    : name_(std::move(name)), help_(std::move(help)) {
  attr_.guid = libid;
  attr_.wMajorVerNum = major;
  attr_.wMinorVerNum = minor;
}

TypeLibBuilder::~TypeLibBuilder() = default;

InterfaceBuilder TypeLibBuilder::Interface(REFIID iid, std::wstring name, std::wstring help,
                                           TypeKind kind) {
  auto desc = std::make_unique<typelib_detail::InterfaceDesc>();
  desc->iid = iid;
  desc->name = std::move(name);
  desc->help = std::move(help);
  desc->kind = kind;
  interfaces_.push_back(std::move(desc));
  return InterfaceBuilder(interfaces_.back().get());
}

HRESULT TypeLibBuilder::Build(ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  for (size_t i = 0; i < interfaces_.size(); ++i) {
    const auto& d = *interfaces_[i];
    if (d.bad) return E_INVALIDARG;
    for (size_t j = 0; j < i; ++j) {
      if (interfaces_[j]->iid == d.iid) return E_INVALIDARG;
    }
    for (size_t a = 0; a < d.members.size(); ++a) {
      for (size_t b = 0; b < a; ++b) {
        if (d.members[a].id == d.members[b].id && d.members[a].kind == d.members[b].kind) {
          return E_INVALIDARG;
        }
      }
    }
  }
  auto* built = new TypeLib(attr_, name_, help_);
  for (const auto& d : interfaces_) built->Add(*d);
  *lib = built;
  return S_OK;
}

namespace {

// The class of the platform's type-library marshaler, named by every interface record.
constexpr const wchar_t* kTypeLibMarshaler = L"{00020424-0000-0000-C000-000000000046}";

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring VersionText(WORD major, WORD minor) {
  // Versions are hexadecimal in these keys, as the platform writes them.
  wchar_t text[16];
  std::swprintf(text, 16, L"%x.%x", major, minor);
  return text;
}

// Sets value `name` (null: the default value) of HKEY_CLASSES_ROOT\`path`, creating the key.
HRESULT SetClassesString(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

// The records through which other programs (and the settings store's readers) see a library.
HRESULT WriteTypeLibRecords(const TypeLib& lib, LPCOLESTR path, LPCOLESTR helpdir) {
  const TLIBATTR& attr = lib.attr();
  const std::wstring libid = GuidText(attr.guid);
  const std::wstring version = VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
  const std::wstring base = L"TypeLib\\" + libid + L"\\" + version;
  HRESULT hr = SetClassesString(base, nullptr, lib.help());
  if (SUCCEEDED(hr)) hr = SetClassesString(base + L"\\0\\win64", nullptr, path ? path : L"");
  if (SUCCEEDED(hr)) hr = SetClassesString(base + L"\\FLAGS", nullptr, L"0");
  if (SUCCEEDED(hr)) hr = SetClassesString(base + L"\\HELPDIR", nullptr, helpdir ? helpdir : L"");
  for (const auto& info : lib.infos()) {
    if (FAILED(hr)) break;
    const InterfaceDesc& d = info->desc();
    const std::wstring key = L"Interface\\" + GuidText(d.iid);
    hr = SetClassesString(key, nullptr, d.name);
    if (SUCCEEDED(hr))
      hr = SetClassesString(key + L"\\ProxyStubClsid32", nullptr, kTypeLibMarshaler);
    if (SUCCEEDED(hr)) hr = SetClassesString(key + L"\\TypeLib", nullptr, libid);
    if (SUCCEEDED(hr)) hr = SetClassesString(key + L"\\TypeLib", L"Version", version);
  }
  return hr;
}

void RemoveTypeLibRecords(const TypeLib& lib) {
  const TLIBATTR& attr = lib.attr();
  const std::wstring libid_key = L"TypeLib\\" + GuidText(attr.guid);
  const std::wstring version = VersionText(attr.wMajorVerNum, attr.wMinorVerNum);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, libid_key.c_str(), 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(key, version.c_str());
    wchar_t name[8];
    DWORD chars = 8;
    const bool other_versions = RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr,
                                              nullptr) != ERROR_NO_MORE_ITEMS;
    RegCloseKey(key);
    if (!other_versions) RegDeleteKeyW(HKEY_CLASSES_ROOT, libid_key.c_str());
  }
  for (const auto& info : lib.infos()) {
    const std::wstring iface = L"Interface\\" + GuidText(info->desc().iid);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, iface.c_str());
  }
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR path, LPCOLESTR helpdir) {
  (void)path;
  (void)helpdir;
  if (!lib) return E_INVALIDARG;
  void* ours = nullptr;
  if (FAILED(lib->QueryInterface(kIID_BuiltTypeLib, &ours)) || !ours) return E_INVALIDARG;
  auto* built = static_cast<TypeLib*>(static_cast<ITypeLib*>(ours));  // keeps the reference
  const TLIBATTR& attr = built->attr();
  for (const auto& info : built->infos()) {
    const InterfaceDesc& d = info->desc();
    if (d.proxy) {
      RegisterInterfaceProxy(d.iid, d.proxy);
    } else if (d.kind == TypeKind::kDispinterface) {
      RegisterInterfaceProxy(d.iid, &MakeInterfaceProxy<DispatchProxy>);
    }
  }
  TypeLib* replaced = nullptr;
  {
    std::lock_guard lock(g_registry_mutex);
    auto& registry = Registry();
    auto it = std::find_if(registry.begin(), registry.end(), [&](const Registration& r) {
      return r.libid == attr.guid && r.major == attr.wMajorVerNum && r.minor == attr.wMinorVerNum;
    });
    if (it != registry.end()) {
      replaced = std::exchange(it->lib, built);
    } else {
      registry.push_back({attr.guid, attr.wMajorVerNum, attr.wMinorVerNum, built});
    }
  }
  if (replaced) replaced->Release();
  // The library is usable in this process whatever happens to its records: a store that cannot
  // be written (damaged, read-only) is reported by the store itself.
  return WriteTypeLibRecords(*built, path, helpdir);
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind) {
  (void)lcid;
  (void)syskind;
  TypeLib* removed = nullptr;
  {
    std::lock_guard lock(g_registry_mutex);
    auto& registry = Registry();
    auto it = std::find_if(registry.begin(), registry.end(), [&](const Registration& r) {
      return r.libid == libid && r.major == major && r.minor == minor;
    });
    if (it == registry.end()) return TYPE_E_LIBNOTREGISTERED;
    removed = it->lib;
    registry.erase(it);
  }
  RemoveTypeLibRecords(*removed);
  removed->Release();
  return S_OK;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  (void)lcid;
  if (!lib) return E_POINTER;
  *lib = nullptr;
  std::lock_guard lock(g_registry_mutex);
  const Registration* best = nullptr;
  for (const Registration& r : Registry()) {
    if (r.libid == libid && r.major == major && r.minor >= minor &&
        (!best || r.minor > best->minor)) {
      best = &r;
    }
  }
  if (!best) return TYPE_E_LIBNOTREGISTERED;
  best->lib->AddRef();
  *lib = best->lib;
  return S_OK;
}
