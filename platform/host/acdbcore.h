// The basic types of the CAD host's programming interface: status codes, open modes, handles,
// object ids, strings and arrays, so that code written for ObjectARX compiles here unchanged.
//
// Stands in for ObjectARX's adesk.h, acadstrc.h (Acad::ErrorStatus), acdb.h (the AcDb enums),
// dbhandle.h, dbid.h, AcString.h and acarray.h. Only the codes and members this program meets are
// defined; the numeric values of Acad::ErrorStatus are our own (code compares them by name).
// ACHAR is wchar_t (32 bits: code points). Left out: soft/hard pointer id kinds, id arrays with
// growth policies, AcString's multibyte forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using ACHAR = wchar_t;

namespace Adesk {
using Int8 = std::int8_t;
using Int16 = std::int16_t;
using Int32 = std::int32_t;
using Int64 = std::int64_t;
using UInt8 = std::uint8_t;
using UInt16 = std::uint16_t;
using UInt32 = std::uint32_t;
using UInt64 = std::uint64_t;
using Boolean = bool;
inline constexpr bool kFalse = false;
inline constexpr bool kTrue = true;
}  // namespace Adesk

namespace Acad {
/// Results of the drawing-database calls.
enum ErrorStatus {
  eOk = 0,
  eNotImplementedYet,
  eNotApplicable,
  eInvalidInput,
  eOutOfMemory,
  eBufferTooSmall,
  eInvalidOpenState,
  eNotInDatabase,
  eKeyNotFound,
  eDuplicateKey,
  eNullObjectId,
  eNullHandle,
  eUnknownHandle,
  eNullObjectPointer,
  eWasErased,
  eWasOpenForRead,
  eWasOpenForWrite,
  eWasOpenForNotify,
  eNotOpenForWrite,
  eNotOpenForRead,
  eWrongObjectType,
  eWrongDatabase,
  eNotThatKindOfClass,
  eBadDxfSequence,
  eFileNotFound,
  eFileAccessErr,
  eFileSharingViolation,
  eDwgNeedsRecovery,
  eBadDwgHeader,
  eNotAllowedForThisProxy,
  eAtMaxReaders,
  eIsWriteProtected,
  eNoDatabase,
  eInvalidIndex,
  eNotAnEntity,
  eIllegalReplacement,
  eInvalidKey,
  eSelfReference,
  eNotFromThisDocument,
  eAlreadyInDb,
};
}  // namespace Acad

/// The status code's name ("eOk", "eWasErased" ...).
const ACHAR* acadErrorStatusText(Acad::ErrorStatus es);

namespace AcDb {
enum OpenMode { kNotOpen = -1, kForRead = 0, kForWrite = 1, kForNotify = 2 };
/// Horizontal text justification (DXF group 72).
enum TextHorzMode {
  kTextLeft = 0,
  kTextCenter = 1,
  kTextRight = 2,
  kTextAlign = 3,
  kTextMid = 4,
  kTextFit = 5
};
/// Vertical text justification (DXF group 74 of ATTRIB/ATTDEF, 73 of TEXT).
enum TextVertMode { kTextBase = 0, kTextBottom = 1, kTextVertMid = 2, kTextTop = 3 };
}  // namespace AcDb

/// A drawing object's handle: a 64-bit number, written in files as upper-case hexadecimal
/// without leading zeros. Zero is the null handle.
class AcDbHandle {
 public:
  AcDbHandle() = default;
  explicit AcDbHandle(Adesk::UInt64 value) : value_(value) {}
  /// Parses hexadecimal text (surrounding blanks allowed, 1 to 16 digits). Text that is not a
  /// handle gives the null handle; `fromText` tells the two apart.
  explicit AcDbHandle(const ACHAR* text);
  explicit AcDbHandle(const char* text);

  /// Parses hexadecimal text; false (and `out` unchanged) for empty text, non-hex characters or
  /// more than 16 digits.
  static bool fromText(std::wstring_view text, AcDbHandle& out);

  bool isNull() const { return value_ == 0; }
  void setNull() { value_ = 0; }
  Adesk::UInt32 low() const { return static_cast<Adesk::UInt32>(value_); }
  Adesk::UInt32 high() const { return static_cast<Adesk::UInt32>(value_ >> 32); }
  Adesk::UInt64 value() const { return value_; }
  /// Writes the handle as upper-case hexadecimal ("1F"); `buffer_chars` of at least 17 always
  /// suffices. A too small buffer gets an empty string (when it has room for the terminator).
  void getIntoAsciiBuffer(ACHAR* buffer, std::size_t buffer_chars = 17) const;
  std::wstring text() const;
  AcDbHandle& operator++() {
    ++value_;
    return *this;
  }
  auto operator<=>(const AcDbHandle&) const = default;

 private:
  Adesk::UInt64 value_ = 0;
};

class AcDbDatabase;
class AcDbStub;

/// Names one object of an open database for the lifetime of that database. Ids compare equal
/// exactly when they name the same object; a default id is null.
class AcDbObjectId {
 public:
  AcDbObjectId() = default;
  explicit AcDbObjectId(AcDbStub* stub) : stub_(stub) {}

  static const AcDbObjectId kNull;

  bool isNull() const { return stub_ == nullptr; }
  void setNull() { stub_ = nullptr; }
  /// Not null and its database is still open.
  bool isValid() const { return stub_ != nullptr; }
  /// The object has been erased (false for the null id).
  bool isErased() const;
  /// The object's handle (null for the null id).
  AcDbHandle handle() const;
  AcDbDatabase* database() const;
  AcDbStub* stub() const { return stub_; }
  auto operator<=>(const AcDbObjectId&) const = default;

 private:
  AcDbStub* stub_ = nullptr;
};

template <>
struct std::hash<AcDbObjectId> {
  std::size_t operator()(const AcDbObjectId& id) const noexcept {
    return std::hash<const void*>()(id.stub());
  }
};

/// A growable array with ObjectARX's AcArray member names.
template <typename T>
class AcArray {
 public:
  int length() const { return static_cast<int>(items_.size()); }
  int logicalLength() const { return length(); }
  bool isEmpty() const { return items_.empty(); }
  int append(const T& item) {
    items_.push_back(item);
    return length() - 1;
  }
  /// Index of `item` from `start`, or -1.
  int find(const T& item, int start = 0) const {
    for (int i = start; i < length(); ++i)
      if (items_[i] == item) return i;
    return -1;
  }
  bool contains(const T& item, int start = 0) const { return find(item, start) >= 0; }
  void removeAll() { items_.clear(); }
  AcArray& setLogicalLength(int n) {
    items_.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return *this;
  }
  const T& at(int i) const { return items_.at(i); }
  T& at(int i) { return items_.at(i); }
  const T& operator[](int i) const { return items_[i]; }
  T& operator[](int i) { return items_[i]; }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T> items_;
};

using AcDbObjectIdArray = AcArray<AcDbObjectId>;

/// A wide string with ObjectARX's AcString member names.
class AcString {
 public:
  AcString() = default;
  AcString(const ACHAR* text) : text_(text ? text : L"") {}  // NOLINT: implicit as in ObjectARX
  AcString(std::wstring text) : text_(std::move(text)) {}    // NOLINT

  const ACHAR* kwszPtr() const { return text_.c_str(); }
  const ACHAR* constPtr() const { return text_.c_str(); }
  operator const ACHAR*() const { return text_.c_str(); }  // NOLINT: as in ObjectARX
  bool isEmpty() const { return text_.empty(); }
  int length() const { return static_cast<int>(text_.size()); }
  /// Case-insensitive comparison (folds non-ASCII letters): <0, 0, >0.
  int compareNoCase(const ACHAR* other) const;
  const std::wstring& str() const { return text_; }
  bool operator==(const AcString& other) const { return text_ == other.text_; }

 private:
  std::wstring text_;
};

/// Frees a string that a database call allocated for the caller (getName and the like) and
/// sets the pointer to null. Null is allowed.
void acutDelBuffer(ACHAR*& buffer);
/// Allocates a copy of `text` that the caller frees with acutDelBuffer.
ACHAR* acutNewString(const ACHAR* text);
