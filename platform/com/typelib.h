// Type libraries built in C++: the type description of dual interfaces and dispinterfaces (GUIDs,
// DISPIDs, names, help strings, parameter types) with an invoker per member that calls the C++
// method, and their registration (RegisterTypeLib, LoadRegTypeLib).
//
// Stands in for MIDL-compiled .tlb files and the type-library parts of oleaut32. There is no .tlb
// file format here: a library is described in code and registered in this process, and
// LoadRegTypeLib finds only libraries registered by this process. Left out: ICreateTypeLib,
// FUNCDESC/VARDESC access, optional and default-valued parameters (every parameter is
// required), SAFEARRAY parameters, coclass and enum descriptions, and LCID-specific names.
//
// Usage:
//   TypeLibBuilder lib(LIBID_Sheetwise, 1, 0, L"Sheetwise", L"Sheetwise 1.0 Type Library");
//   lib.Interface(IID_IAppEventHandler, L"IAppEventHandler", L"Live link events", TypeKind::kDual)
//       .Method<&IAppEventHandler::Enable>(1, L"Enable", L"Starts forwarding events")
//       .Method<&IAppEventHandler::Disable>(2, L"Disable", L"Stops forwarding events")
//       .Proxy<AppEventHandlerProxy>();   // makes the dual interface marshallable
//   ITypeLib* tl = nullptr;
//   lib.Build(&tl);
//   RegisterTypeLib(tl, L"sheetwise.tlb", nullptr);
//
// Type information objects are immutable once built and may be used from any thread: they
// answer IAgileObject and pass between apartments without proxies.
#pragma once

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "platform/com/comtypes.h"
#include "platform/com/marshal.h"

/// The platform's INVOKEKIND: what kind of member a DISPID names.
enum INVOKEKIND {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};

/// TYPEATTR::wTypeFlags bits this runtime sets.
inline constexpr WORD TYPEFLAG_FDUAL = 0x40;
inline constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
/// The member id that GetDocumentation takes for the type itself.
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32 = 1, SYS_MAC = 2, SYS_WIN64 = 3 };

/// Registers `lib` in this process (LoadRegTypeLib finds it from then on, by LIBID and version)
/// and writes the platform's records for it: HKEY_CLASSES_ROOT\TypeLib\{LIBID}\major.minor
/// (help string, "0\win64" = `path`, FLAGS, HELPDIR) and HKEY_CLASSES_ROOT\Interface\{IID} of
/// each interface (name, ProxyStubClsid32, TypeLib, Version). Interfaces described with a proxy
/// class become marshallable between apartments (RegisterInterfaceProxy), dispinterfaces through
/// the IDispatch proxy. Registering the same LIBID and version again replaces the earlier
/// library. E_INVALIDARG for a null `lib` or a library not built by TypeLibBuilder. When the
/// records cannot be written (a damaged or read-only settings store) the library is still
/// registered in this process and the store's error comes back as HRESULT_FROM_WIN32. Versions
/// in the records are hexadecimal, as the platform writes them. Any thread.
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR path, LPCOLESTR helpdir);

/// Removes a registration made by RegisterTypeLib (its registry records included).
/// TYPE_E_LIBNOTREGISTERED when that LIBID and version are not registered. Proxies registered
/// for its interfaces stay registered (objects may still be in use). Any thread.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

/// The registered library `libid` with major version `major` and the highest registered minor
/// version >= `minor` (the platform's rule). TYPE_E_LIBNOTREGISTERED when there is none;
/// E_POINTER for a null `lib`. `lcid` is ignored. Any thread.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);

/// Whether a type description's interface is dual (vtable and IDispatch) or a dispinterface
/// (IDispatch only, such as an event interface).
enum class TypeKind { kDual, kDispinterface };

namespace typelib_detail {

/// Calls one member on an instance. `args` holds the parameters in declaration order, each
/// already coerced to its declared type; `retval` receives the [out, retval] value (VT_EMPTY
/// when the member has none) and is owned by the caller.
using Invoker = HRESULT (*)(void* instance, VARIANT* args, VARIANT* retval);

struct MemberDesc {
  DISPID id = 0;
  INVOKEKIND kind = INVOKE_FUNC;
  std::wstring name;
  std::wstring help;
  std::vector<std::wstring> param_names;
  std::vector<VARTYPE> param_types;  ///< in declaration order, without the retval
  VARTYPE retval_type = VT_EMPTY;    ///< VT_EMPTY: no [out, retval]
  Invoker invoke = nullptr;          ///< null for described-only (event) members
};

// C++ parameter types and the VARTYPE they stand for. A value of a listed type is stored in the
// VARIANT union at offset 0 with the same bytes, which is what Load/Store rely on.
template <class T>
struct VtOf {
  static constexpr VARTYPE value = VT_EMPTY;  // not a supported parameter type
};
template <>
struct VtOf<LONG> {
  static constexpr VARTYPE value = VT_I4;
};
template <>
struct VtOf<SHORT> {
  static constexpr VARTYPE value = VT_I2;
};
template <>
struct VtOf<BYTE> {
  static constexpr VARTYPE value = VT_UI1;
};
template <>
struct VtOf<CHAR> {
  static constexpr VARTYPE value = VT_I1;
};
template <>
struct VtOf<USHORT> {
  static constexpr VARTYPE value = VT_UI2;
};
template <>
struct VtOf<ULONG> {
  static constexpr VARTYPE value = VT_UI4;
};
template <>
struct VtOf<LONGLONG> {
  static constexpr VARTYPE value = VT_I8;
};
template <>
struct VtOf<ULONGLONG> {
  static constexpr VARTYPE value = VT_UI8;
};
template <>
struct VtOf<FLOAT> {
  static constexpr VARTYPE value = VT_R4;
};
template <>
struct VtOf<DOUBLE> {
  static constexpr VARTYPE value = VT_R8;
};
template <>
struct VtOf<BSTR> {
  static constexpr VARTYPE value = VT_BSTR;
};
template <>
struct VtOf<VARIANT> {
  static constexpr VARTYPE value = VT_VARIANT;
};
template <>
struct VtOf<IDispatch*> {
  static constexpr VARTYPE value = VT_DISPATCH;
};
template <>
struct VtOf<IUnknown*> {
  static constexpr VARTYPE value = VT_UNKNOWN;
};

/// An interface pointer to something derived from IDispatch, as a retval (IRange**).
template <class T>
constexpr VARTYPE RetvalVt() {
  if constexpr (std::is_pointer_v<T> && std::is_base_of_v<IDispatch, std::remove_pointer_t<T>>) {
    return VT_DISPATCH;
  } else if constexpr (std::is_pointer_v<T> &&
                       std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
    return VT_UNKNOWN;
  } else {
    return VtOf<T>::value;
  }
}

template <class T>
constexpr bool IsRetvalPointer() {
  if constexpr (std::is_pointer_v<T>) {
    using U = std::remove_pointer_t<T>;
    return !std::is_const_v<U> && RetvalVt<U>() != VT_EMPTY;
  } else {
    return false;
  }
}

/// Reads a parameter of C++ type T out of a VARIANT already coerced to T's VARTYPE (or, for a
/// by-reference parameter, holding VT_BYREF of it).
template <class T>
T Load(VARIANT& v) {
  if constexpr (std::is_same_v<T, VARIANT>) {
    return v;
  } else if constexpr (std::is_pointer_v<T> && VtOf<T>::value == VT_EMPTY) {
    return static_cast<T>(v.byref);  // by-reference parameter
  } else {
    T value;
    std::memcpy(&value, &v.llVal, sizeof value);
    return value;
  }
}

template <class T>
void Store(VARIANT* out, VARTYPE vt, const T& value) {
  if constexpr (std::is_same_v<T, VARIANT>) {
    *out = value;
  } else if constexpr (std::is_pointer_v<T> &&
                       std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
    out->vt = vt;
    if (vt == VT_DISPATCH) {
      out->pdispVal = static_cast<IDispatch*>(value);
    } else {
      out->punkVal = static_cast<IUnknown*>(value);
    }
  } else {
    out->vt = vt;
    out->llVal = 0;
    std::memcpy(&out->llVal, &value, sizeof value);
  }
}

template <class F>
struct MethodTraits;
template <class C, class... A>
struct MethodTraits<HRESULT (C::*)(A...)> {
  using Class = C;
  using Args = std::tuple<A...>;
  static constexpr std::size_t kArity = sizeof...(A);
};

template <auto Fn, bool kHasRetval>
struct InvokerOf {
  using Traits = MethodTraits<decltype(Fn)>;
  using Args = typename Traits::Args;
  static constexpr std::size_t kIn = Traits::kArity - (kHasRetval ? 1 : 0);

  template <std::size_t... I>
  static HRESULT Call(void* instance, VARIANT* args, VARIANT* retval, std::index_sequence<I...>) {
    auto* self = static_cast<typename Traits::Class*>(instance);
    if constexpr (kHasRetval) {
      using RetPtr = std::tuple_element_t<kIn, Args>;
      using Ret = std::remove_pointer_t<RetPtr>;
      if constexpr (std::is_same_v<Ret, VARIANT>) {
        return (self->*Fn)(Load<std::tuple_element_t<I, Args>>(args[I])..., retval);
      } else {
        Ret out{};
        HRESULT hr = (self->*Fn)(Load<std::tuple_element_t<I, Args>>(args[I])..., &out);
        if (SUCCEEDED(hr)) Store(retval, RetvalVt<Ret>(), out);
        return hr;
      }
    } else {
      (void)retval;
      return (self->*Fn)(Load<std::tuple_element_t<I, Args>>(args[I])...);
    }
  }
  static HRESULT Invoke(void* instance, VARIANT* args, VARIANT* retval) {
    return Call(instance, args, retval, std::make_index_sequence<kIn>());
  }
};

template <class T>
constexpr VARTYPE ParamVt() {
  if constexpr (VtOf<T>::value != VT_EMPTY) {
    return VtOf<T>::value;
  } else if constexpr (std::is_pointer_v<T> && RetvalVt<std::remove_pointer_t<T>>() != VT_EMPTY) {
    return static_cast<VARTYPE>(VT_BYREF | RetvalVt<std::remove_pointer_t<T>>());
  } else {
    static_assert(sizeof(T) == 0,
                  "parameter type has no Automation type: use LONG, SHORT, DOUBLE, BSTR, "
                  "VARIANT, IDispatch*, IUnknown* or a pointer to one of them");
    return VT_EMPTY;
  }
}

template <auto Fn, bool kHasRetval>
void Describe(MemberDesc& m) {
  using Traits = MethodTraits<decltype(Fn)>;
  using Args = typename Traits::Args;
  constexpr std::size_t kIn = Traits::kArity - (kHasRetval ? 1 : 0);
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    m.param_types = {ParamVt<std::tuple_element_t<I, Args>>()...};
  }
  (std::make_index_sequence<kIn>());
  if constexpr (kHasRetval) {
    using Ret = std::remove_pointer_t<std::tuple_element_t<kIn, Args>>;
    m.retval_type = RetvalVt<Ret>();
  }
  m.invoke = &InvokerOf<Fn, kHasRetval>::Invoke;
}

template <auto Fn>
constexpr bool LastIsRetval() {
  using Traits = MethodTraits<decltype(Fn)>;
  if constexpr (Traits::kArity == 0) {
    return false;
  } else {
    return IsRetvalPointer<std::tuple_element_t<Traits::kArity - 1, typename Traits::Args>>();
  }
}

/// Makes `*out` the argument `src` as type `vt` (VT_VARIANT: as it is; VT_BYREF types: the same
/// reference, or a reference into a VT_VARIANT | VT_BYREF holding that type). Values already of
/// type `vt` are borrowed (`*owned` false); converted ones are owned by `*out` (`*owned` true,
/// clear with VariantClear). The failure of VariantChangeType, or DISP_E_TYPEMISMATCH.
HRESULT CoerceArgument(const VARIANT& src, VARTYPE vt, VARIANT* out, bool* owned);

struct InterfaceDesc {
  IID iid{};
  std::wstring name;
  std::wstring help;
  TypeKind kind = TypeKind::kDual;
  std::vector<MemberDesc> members;
  InterfaceProxyFactory proxy = nullptr;
  bool bad = false;  ///< a member was described inconsistently; Build refuses the library
};

}  // namespace typelib_detail

/// Describes one interface of a TypeLibBuilder; returned by TypeLibBuilder::Interface and valid
/// until the builder is destroyed.
class InterfaceBuilder {
 public:
  /// A method `HRESULT C::Fn(in..., [T* retval])`. A trailing pointer to an Automation type
  /// (LONG*, BSTR*, VARIANT*, IDispatch** or a pointer to a derived interface pointer) is the
  /// [out, retval]; other pointer parameters are by-reference. `param_names` names the
  /// parameters for GetIDsOfNames (may be shorter). `types` overrides deduced parameter types
  /// where C++ cannot tell them apart (VARIANT_BOOL is a SHORT: pass VT_BOOL; DATE is a
  /// double: VT_DATE); it must have one entry per parameter when given.
  template <auto Fn>
  InterfaceBuilder& Method(DISPID id, std::wstring name, std::wstring help = {},
                           std::initializer_list<const wchar_t*> param_names = {},
                           std::initializer_list<VARTYPE> types = {}) {
    return Add<Fn, typelib_detail::LastIsRetval<Fn>()>(id, INVOKE_FUNC, std::move(name),
                                                       std::move(help), param_names, types);
  }
  /// A property read `HRESULT C::get_X([in...,] T* value)`.
  template <auto Fn>
  InterfaceBuilder& PropertyGet(DISPID id, std::wstring name, std::wstring help = {},
                                std::initializer_list<VARTYPE> types = {}) {
    static_assert(typelib_detail::LastIsRetval<Fn>(), "a property get ends with T* value");
    return Add<Fn, true>(id, INVOKE_PROPERTYGET, std::move(name), std::move(help), {}, types);
  }
  /// A property write `HRESULT C::put_X([in...,] T value)`.
  template <auto Fn>
  InterfaceBuilder& PropertyPut(DISPID id, std::wstring name, std::wstring help = {},
                                std::initializer_list<VARTYPE> types = {}) {
    return Add<Fn, false>(id, INVOKE_PROPERTYPUT, std::move(name), std::move(help), {}, types);
  }
  /// A member described without an implementation: the events of an outgoing (source)
  /// dispinterface, which sinks implement. Invoking it through the type information answers
  /// DISP_E_MEMBERNOTFOUND.
  InterfaceBuilder& Event(DISPID id, std::wstring name, std::wstring help,
                          std::initializer_list<VARTYPE> types,
                          std::initializer_list<const wchar_t*> param_names = {});
  /// The proxy class that makes this interface callable from other apartments once the library
  /// is registered (see DualInterfaceProxy in marshal.h).
  template <class ProxyClass>
  InterfaceBuilder& Proxy() {
    desc_->proxy = &MakeInterfaceProxy<ProxyClass>;
    return *this;
  }

 private:
  friend class TypeLibBuilder;
  explicit InterfaceBuilder(typelib_detail::InterfaceDesc* desc) : desc_(desc) {}
  template <auto Fn, bool kHasRetval>
  InterfaceBuilder& Add(DISPID id, INVOKEKIND kind, std::wstring name, std::wstring help,
                        std::initializer_list<const wchar_t*> param_names,
                        std::initializer_list<VARTYPE> types) {
    typelib_detail::MemberDesc m;
    m.id = id;
    m.kind = kind;
    m.name = std::move(name);
    m.help = std::move(help);
    typelib_detail::Describe<Fn, kHasRetval>(m);
    AddMember(std::move(m), param_names, types);
    return *this;
  }
  void AddMember(typelib_detail::MemberDesc m, std::initializer_list<const wchar_t*> param_names,
                 std::initializer_list<VARTYPE> types);

  typelib_detail::InterfaceDesc* desc_;
};

/// Builds a type library in code. Not thread-safe; the built library is.
class TypeLibBuilder {
 public:
  TypeLibBuilder(REFGUID libid, WORD major, WORD minor, std::wstring name, std::wstring help);
  ~TypeLibBuilder();
  TypeLibBuilder(const TypeLibBuilder&) = delete;
  TypeLibBuilder& operator=(const TypeLibBuilder&) = delete;

  /// Adds an interface; describe its members on the returned builder.
  InterfaceBuilder Interface(REFIID iid, std::wstring name, std::wstring help, TypeKind kind);

  /// Creates the immutable library with one reference for the caller. E_INVALIDARG when two
  /// interfaces share an IID, or one interface has two members with the same DISPID and kind or
  /// a member whose overridden types do not fit its C++ parameters; E_POINTER for null.
  HRESULT Build(ITypeLib** lib);

 private:
  TLIBATTR attr_{};
  std::wstring name_;
  std::wstring help_;
  std::vector<std::unique_ptr<typelib_detail::InterfaceDesc>> interfaces_;
};
