// A DXF drawing as a lossless tag store: every section, table record, entity and object keeps
// the tags and the bytes it was read from, so that what was not changed is written back byte for
// byte, and what was changed is rewritten from its tags in the file's own style.
//
// Reads ASCII and binary DXF from R12 (AC1009) to 2018 (AC1032). The file's bytes are kept in
// memory and indexed (16 bytes a tag); values are decoded when asked for.
//
//   LoadResult loaded = DxfDocument::Load("site.dxf");
//   if (!loaded) { std::cerr << loaded.error->ToString() << '\n'; return; }
//   DxfDocument& doc = *loaded.document;
//   for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
//     if (e.Type() != "ATTRIB") continue;
//     size_t value = e.Find(kCodeText);
//     if (value != kNoTag && e.Text(value) == L"old") (void)doc.SetText(e.id(), value, L"new");
//   }
//   if (auto failed = doc.Save()) std::cerr << failed->ToString() << '\n';
//
// Records: the file is a chain of records, each starting at a group 0 tag ("SECTION", "LINE",
// "TABLE", "ENDTAB", "BLOCK", "ENDBLK", "ENDSEC", "EOF" ...). The "SECTION" record holds the
// section's name (group 2) and, for HEADER, all the header variables (9 name, value tags); for
// THUMBNAILIMAGE its data. 999 comments belong to the record they stand in (comments before the
// first group 0 form a record of their own, whose Type() is empty).
//
// Threads: a document belongs to one thread at a time; const calls may run concurrently when no
// thread changes the document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dxf/group_codes.h"

namespace sheetwise::dxf {

/// A handle: the hexadecimal number of groups 5/105 and of pointers. 0 means none.
using Handle = std::uint64_t;
/// Identifies a record for the document's lifetime; never reused, stays valid across edits
/// (an erased record keeps its id and reports IsErased()).
using RecordId = std::uint32_t;
inline constexpr RecordId kNoRecord = 0xFFFFFFFFu;
/// "No such tag" from the Find functions.
inline constexpr std::size_t kNoTag = static_cast<std::size_t>(-1);

enum class Format : std::uint8_t { kAscii, kBinary };

/// An error or warning about a file: where, what was expected, what was found.
struct Diagnostic {
  std::string file;          ///< the path as given (UTF-8), or the name passed to Parse
  std::uint64_t line = 0;    ///< 1-based line of an ASCII file; 0 when not about a line
  std::uint64_t offset = 0;  ///< byte offset (binary files; ASCII: start of `line`)
  bool binary = false;       ///< position is `offset` rather than `line`
  std::string message;       ///< e.g. "group code expected, found 'abc'"
  /// "site.dxf:1204: group code expected, found 'abc'"; binary: "site.dxf:offset 5120: ...";
  /// without a position: "site.dxf: ...".
  std::string ToString() const;
};

class DxfDocument;
class FileBytes;
struct Tag;

/// What Load and Parse return: the document, or the error that refused the file; and the
/// warnings about damage that was repaired (mixed line ends, trailing blanks, a missing EOF,
/// a $HANDSEED missing or not above the highest handle).
struct [[nodiscard]] LoadResult {
  std::unique_ptr<DxfDocument> document;  ///< null when `error` is set
  std::optional<Diagnostic> error;
  std::vector<Diagnostic> warnings;
  explicit operator bool() const { return document != nullptr; }
};

/// A tag to write: a group code with a typed value, formatted by the document in the file's
/// encoding and style (line ends, group-code padding, number format, binary layout).
struct NewTag {
  enum class Kind : std::uint8_t { kText, kReal, kInteger, kHandle, kBytes };
  int code = 0;
  Kind kind = Kind::kText;
  std::wstring text;                ///< kText
  double real = 0;                  ///< kReal
  std::int64_t integer = 0;         ///< kInteger (bools as 0/1)
  Handle handle = 0;                ///< kHandle
  std::vector<std::uint8_t> bytes;  ///< kBytes (binary chunk 310-319, 1004)

  static NewTag Text(int code, std::wstring_view text);
  static NewTag Real(int code, double value);
  static NewTag Integer(int code, std::int64_t value);
  static NewTag HandleRef(int code, Handle handle);
  static NewTag Bytes(int code, std::span<const std::uint8_t> bytes);
};

/// A read-only view of one record. Cheap to copy; valid while the document lives. Tag indexes
/// are positions in the record (0 is the group 0 tag) and shift when tags are inserted or
/// removed before them.
class Entity {
 public:
  Entity(const DxfDocument* doc, RecordId id) : doc_(doc), id_(id) {}

  RecordId id() const { return id_; }
  /// The group 0 value ("LINE", "SECTION", "ATTRIB" ...); empty for leading comments.
  std::string_view Type() const;
  /// Group 5 (105 in DIMSTYLE records); 0 when the record has none.
  Handle handle() const;
  /// The first 330 that is not inside a 102 group; 0 when none.
  Handle Owner() const;
  /// The 100 subclass markers in order (AcDbEntity, AcDbBlockReference ...).
  std::vector<std::string_view> Subclasses() const;
  bool IsErased() const;
  /// True once any tag of this record was changed, inserted or removed, or the record is new.
  bool IsModified() const;

  std::size_t TagCount() const;
  /// The group code of tag `i` (i < TagCount()).
  int Code(std::size_t i) const;
  /// The value's bytes as stored: for ASCII the value line without its line end; for binary
  /// files strings without the terminating zero, numbers as their little-endian bytes.
  std::string_view Raw(std::size_t i) const;
  /// The value as wide text: strings decoded from the file's encoding (UTF-8 from AC1021, else
  /// $DWGCODEPAGE) with \U+XXXX and \M+NXXXX escapes decoded; numbers of binary files formatted
  /// as an ASCII file would hold them; binary chunks as hex.
  std::wstring Text(std::size_t i) const;
  /// The value as a number: numeric tags, and text tags whose text is a number (blanks around
  /// it allowed). nullopt otherwise.
  std::optional<double> Real(std::size_t i) const;
  std::optional<std::int64_t> Integer(std::size_t i) const;
  /// The value of a handle-typed (or any hexadecimal text) tag; 0 when not a handle.
  Handle HandleAt(std::size_t i) const;
  /// The first tag at or after `from` with `code`; kNoTag when none.
  std::size_t Find(int code, std::size_t from = 0) const;
  /// The end of the record's own data: its first 101 (embedded object) or 1001 (XDATA) tag
  /// after the group 0 tag, or TagCount().
  std::size_t OwnEnd() const;
  /// The first tag with `code` in [from, end) that is not inside a 102 group; kNoTag when none.
  std::size_t FindOutsideGroups(int code, std::size_t from, std::size_t end) const;
  /// The first `code` after the subclass marker `subclass` (and before the next marker).
  std::size_t FindInSubclass(std::string_view subclass, int code) const;
  /// The index of the 1001 tag of XDATA application `app` (compared ignoring ASCII case), or
  /// kNoTag. Its data runs to the next 1001 or the record's end.
  std::size_t FindXData(std::string_view app) const;
  /// 1-based line (ASCII) or byte offset (binary) where the record started in the file; 0 for
  /// a record that was added.
  std::uint64_t SourcePosition() const;

 private:
  const DxfDocument* doc_;
  RecordId id_;
};

/// A section: its "SECTION" record, its name, and the "ENDSEC" record that closes it.
struct Section {
  std::string name;           ///< "HEADER", "ENTITIES", or an unknown section's name
  RecordId head = kNoRecord;  ///< the record "0 SECTION / 2 name"
  RecordId end = kNoRecord;   ///< the record "0 ENDSEC"
};

/// Forward range over the live (not erased) records strictly between two records.
class RecordRange {
 public:
  class iterator {
   public:
    using value_type = Entity;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    iterator(const DxfDocument* doc, RecordId at) : doc_(doc), at_(at) {}
    Entity operator*() const { return Entity(doc_, at_); }
    iterator& operator++();
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return at_ == other.at_; }

   private:
    const DxfDocument* doc_ = nullptr;
    RecordId at_ = kNoRecord;
  };
  RecordRange(const DxfDocument* doc, RecordId first, RecordId end)
      : doc_(doc), first_(first), end_(end) {}
  iterator begin() const { return iterator(doc_, first_); }
  iterator end() const { return iterator(doc_, end_); }

 private:
  const DxfDocument* doc_;
  RecordId first_;
  RecordId end_;
};

/// Reads a drawing on a helper thread while the caller does other work: DxfDocument::Load of
/// the same path then takes what was read, unless the file changed in between. Destroying it
/// waits for the reading to end and drops a result nobody took.
///
///   PrefetchedLoad early(path);   // the workbook is opened meanwhile
///   ...
///   LoadResult loaded = DxfDocument::Load(path);
class PrefetchedLoad {
 public:
  explicit PrefetchedLoad(std::filesystem::path path);
  ~PrefetchedLoad();
  PrefetchedLoad(const PrefetchedLoad&) = delete;
  PrefetchedLoad& operator=(const PrefetchedLoad&) = delete;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

class DxfDocument {
 public:
  /// Reads `path` (ASCII or binary DXF). Files of 4 GiB and more are refused. A malformed file
  /// gives `error` (file, line or offset, expected and found) and no document; so does a file
  /// too big for the memory there is. The whole file is read into memory the document owns:
  /// what other programs later do to the file does not change the document. Pipes and devices
  /// are read to their end.
  /// When a PrefetchedLoad of the same path is under way, its outcome is taken.
  static LoadResult Load(const std::filesystem::path& path);
  /// Parses `bytes` as a DXF file; `name` is the file named in diagnostics. Save() needs a
  /// path: use SaveAs.
  static LoadResult Parse(std::string bytes, std::string name);

  ~DxfDocument();
  DxfDocument(const DxfDocument&) = delete;
  DxfDocument& operator=(const DxfDocument&) = delete;

  // ---- What the file is
  Format format() const;
  /// $ACADVER as read ("AC1009" ... "AC1032"); "AC1009" when the header lacks it.
  const std::string& Version() const;
  /// The number in Version() (1009 ... 1032).
  int VersionNumber() const;
  /// The code page of the file's text: 65001 from AC1021 on, else that of $DWGCODEPAGE
  /// (1252 when missing or unknown).
  unsigned CodePage() const;
  /// The path loaded from or last saved to; empty after Parse.
  const std::filesystem::path& Path() const;

  // ---- Records and sections
  /// Sections in file order.
  const std::vector<Section>& Sections() const;
  /// The first section named `name` (ASCII case ignored); nullopt when absent.
  std::optional<Section> FindSection(std::string_view name) const;
  /// The live records of a section, between its SECTION and ENDSEC records.
  RecordRange Records(const Section& section) const;
  /// The live records strictly between `after` and `before` (e.g. a BLOCK and its ENDBLK, or a
  /// TABLE and its ENDTAB); `before` kNoRecord: to the end of the file.
  RecordRange Between(RecordId after, RecordId before) const;
  Entity Get(RecordId id) const { return Entity(this, id); }
  /// The first record of the file; then Next/Prev along the chain (skipping erased records).
  /// kNoRecord past either end.
  RecordId First() const;
  RecordId Next(RecordId id) const;
  RecordId Prev(RecordId id) const;
  /// The live record with handle `handle` (group 5, or 105 in DIMSTYLE); kNoRecord if none.
  RecordId FindByHandle(Handle handle) const;
  /// Number of ids handed out (erased ones included): ids are below this.
  std::size_t RecordCount() const;

  // ---- Header variables
  /// The HEADER section's SECTION record (holds the variables); kNoRecord when there is none.
  RecordId HeaderRecord() const;
  /// The index (in HeaderRecord()) of the first value tag of variable `name` ("$ACADVER");
  /// a point's further coordinates follow it. kNoTag when absent. Names compare exactly.
  std::size_t FindHeader(std::string_view name) const;
  std::optional<std::wstring> HeaderText(std::string_view name) const;
  std::optional<double> HeaderReal(std::string_view name) const;
  std::optional<std::int64_t> HeaderInteger(std::string_view name) const;
  /// Sets the variable's first value; adds "9 name" and the value at the end of the header when
  /// absent. False without a HEADER section or when the value cannot be written (see SetValue).
  [[nodiscard]] bool SetHeader(std::string_view name, const NewTag& value);

  // ---- Editing. Every call returns false (and changes nothing) for an unknown or erased
  // record, an index out of range, or a value the file cannot hold: text with a line break
  // (ASCII) or a zero character (binary), an integer outside its code's range, a NaN or
  // infinite real, a handle already used (for groups 5/105).
  /// Replaces tag `i`'s value (and code) keeping its place; the tag keeps its own group-code
  /// line and line end, a number keeps the old value's right alignment.
  [[nodiscard]] bool SetValue(RecordId id, std::size_t i, const NewTag& value);
  /// Typed forms of SetValue that keep the tag's code.
  [[nodiscard]] bool SetText(RecordId id, std::size_t i, std::wstring_view text);
  [[nodiscard]] bool SetReal(RecordId id, std::size_t i, double value);
  [[nodiscard]] bool SetInteger(RecordId id, std::size_t i, std::int64_t value);
  [[nodiscard]] bool SetHandle(RecordId id, std::size_t i, Handle handle);
  /// Inserts `tags` before tag `pos` (1 <= pos <= TagCount()).
  [[nodiscard]] bool InsertTags(RecordId id, std::size_t pos, std::span<const NewTag> tags);
  /// Removes `count` tags from `pos` (pos >= 1: the group 0 tag stays).
  [[nodiscard]] bool RemoveTags(RecordId id, std::size_t pos, std::size_t count);
  /// Adds a record made of `tags` (the first must be group 0) after / before a live record.
  /// Returns its id, or kNoRecord (bad anchor, first tag not group 0, a bad value, a handle
  /// already in use). A group 5 in `tags` makes it findable by handle.
  RecordId InsertRecordAfter(RecordId after, std::span<const NewTag> tags);
  RecordId InsertRecordBefore(RecordId before, std::span<const NewTag> tags);
  /// Removes the record from the drawing (it is not written any more); its handle becomes
  /// free for FindByHandle but is never handed out again. False when already erased or it is a
  /// SECTION, ENDSEC or EOF record.
  [[nodiscard]] bool Erase(RecordId id);
  /// A new handle: the current $HANDSEED (repaired to above every handle in the file), then
  /// $HANDSEED is advanced. Works without a $HANDSEED variable too (one is added on save).
  Handle NewHandle();
  /// True once anything was changed since the load or last save.
  bool IsModified() const;
  /// Grows with every change and never goes back: an index built over the records stays
  /// valid while it is unchanged.
  std::uint64_t EditCount() const;

  // ---- Writing
  /// The bytes Save would write. Unchanged: exactly the bytes read.
  std::string Serialize() const;
  /// Writes to Path() atomically: a temporary file beside it, flushed, then renamed over it; the
  /// previous file is kept as Path() + ".bak". On failure (returned) the old file is untouched
  /// and no temporary file remains.
  [[nodiscard]] std::optional<Diagnostic> Save();
  /// Save to `path` (same format, version and encoding as read); on success Path() becomes
  /// `path`. An existing `path` is kept as path + ".bak".
  [[nodiscard]] std::optional<Diagnostic> SaveAs(const std::filesystem::path& path);

  struct Impl;
  const Impl& impl() const { return *impl_; }

 private:
  friend class PrefetchedLoad;
  DxfDocument();
  // Load without looking for a prefetched outcome: what the prefetching thread runs.
  static LoadResult ReadFile(const std::filesystem::path& path);
  static LoadResult ParseBytes(FileBytes bytes, std::string name);
  void EnsureOverlay(RecordId id);
  bool MakeTag(const NewTag& value, const Tag* old, Tag& out);
  bool Commit(RecordId id, std::vector<Tag> tags);
  RecordId AddRecord(RecordId anchor, bool after, std::span<const NewTag> tags, bool structural);

  std::unique_ptr<Impl> impl_;
};

/// Decodes a DXF string value's bytes: `code_page` (65001 for UTF-8), then \U+XXXX (UTF-16
/// units, surrogate pairs joined) and \M+NXXXX (N: 1 = 932, 2 = 950, 3 = 949, 5 = 936) escapes.
/// Escapes that are malformed stay as they are.
std::wstring DecodeText(std::string_view bytes, unsigned code_page);
/// Encodes text for a file in `code_page`: characters the code page lacks become \U+XXXX
/// (two escapes above U+FFFF). With `mbcs_escapes` and a double-byte `code_page`, its
/// double-byte characters are written as \M+NXXXX, as older AutoCAD releases do. UTF-8 needs no
/// escapes.
std::string EncodeText(std::wstring_view text, unsigned code_page, bool mbcs_escapes = false);
/// The code page of a $DWGCODEPAGE value ("ANSI_1251" -> 1251, "DOS437" -> 437); 0 if unknown.
unsigned CodePageFromName(std::string_view name);

}  // namespace sheetwise::dxf
