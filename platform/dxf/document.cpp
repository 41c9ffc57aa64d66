#include "platform/dxf/document.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dxf/document_internal.h"
#include "platform/dxf/reader_internal.h"
#include "platform/win/codepage.h"

namespace sheetwise::dxf {

static_assert(std::endian::native == std::endian::little,
              "binary DXF values are copied as little-endian bytes");

namespace {

std::string_view Trimmed(std::string_view v) {
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  return v;
}

std::string HexHandle(Handle h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(h));
  return buf;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

template <typename T>
T LoadLittle(std::string_view bytes) {
  T v{};
  if (bytes.size() == sizeof(T)) std::memcpy(&v, bytes.data(), sizeof(T));
  return v;
}

template <typename T>
void AppendLittle(std::string& out, T v) {
  char buf[sizeof(T)];
  std::memcpy(buf, &v, sizeof(T));
  out.append(buf, sizeof(T));
}

bool IsNumeric(ValueType t) {
  return t == ValueType::kDouble || t == ValueType::kInt16 || t == ValueType::kInt32 ||
         t == ValueType::kInt64 || t == ValueType::kBool;
}

// Coalesces adjacent byte ranges into one write.
template <typename Sink>
class Coalescer {
 public:
  explicit Coalescer(Sink& sink) : sink_(sink) {}
  void Add(std::string_view piece) {
    if (piece.empty()) return;
    if (pending_.data() + pending_.size() == piece.data()) {
      pending_ = std::string_view(pending_.data(), pending_.size() + piece.size());
      return;
    }
    Flush();
    pending_ = piece;
  }
  void Flush() {
    if (!pending_.empty()) sink_(pending_);
    pending_ = {};
  }

 private:
  Sink& sink_;
  std::string_view pending_;
};

template <typename Sink>
void Emit(const DxfDocument::Impl& d, Sink& sink) {
  Coalescer<Sink> out(sink);
  out.Add(std::string_view(d.data).substr(0, d.prefix_len));
  for (RecordId id = d.first; id != kNoRecord; id = d.records[id].next) {
    const Record& r = d.records[id];
    if (r.flags & Record::kErased) continue;
    const auto tags = d.TagsOf(id);
    if (!(r.flags & Record::kOverlay)) {
      if (tags.empty()) continue;
      const Tag& last = tags.back();
      out.Add(std::string_view(d.data.data() + tags.front().begin,
                               last.begin + last.RawLength() - tags.front().begin));
      continue;
    }
    for (const Tag& t : tags) out.Add(d.RawBytes(t));
  }
  out.Add(std::string_view(d.data).substr(std::min<size_t>(d.tail_begin, d.data.size())));
  out.Flush();
}

std::function<int(std::string_view)>& SaveFault() {
  static std::function<int(std::string_view)> hook;
  return hook;
}

int Injected(std::string_view step) {
  return SaveFault() ? SaveFault()(step) : 0;
}

}  // namespace

void SetSaveFaultForTesting(std::function<int(std::string_view step)> hook) {
  SaveFault() = std::move(hook);
}

// ---- Diagnostic, NewTag

std::string Diagnostic::ToString() const {
  std::string out = file;
  if (binary) {
    out += ":offset ";
    out += std::to_string(offset);
  } else if (line) {
    out += ':';
    out += std::to_string(line);
  }
  out += ": ";
  out += message;
  return out;
}

NewTag NewTag::Text(int code, std::wstring_view text) {
  NewTag t;
  t.code = code;
  t.kind = Kind::kText;
  t.text = std::wstring(text);
  return t;
}
NewTag NewTag::Real(int code, double value) {
  NewTag t;
  t.code = code;
  t.kind = Kind::kReal;
  t.real = value;
  return t;
}
NewTag NewTag::Integer(int code, std::int64_t value) {
  NewTag t;
  t.code = code;
  t.kind = Kind::kInteger;
  t.integer = value;
  return t;
}
NewTag NewTag::HandleRef(int code, Handle handle) {
  NewTag t;
  t.code = code;
  t.kind = Kind::kHandle;
  t.handle = handle;
  return t;
}
NewTag NewTag::Bytes(int code, std::span<const std::uint8_t> bytes) {
  NewTag t;
  t.code = code;
  t.kind = Kind::kBytes;
  t.bytes.assign(bytes.begin(), bytes.end());
  return t;
}

// ---- Impl helpers

void DxfDocument::Impl::RebuildHeaderIndex() {
  header_vars.clear();
  if (header == kNoRecord) return;
  const auto t = TagsOf(header);
  for (std::uint32_t i = 0; i < t.size(); ++i) {
    if (t[i].code == kCodeVariable) header_vars.emplace(std::string(Trimmed(Value(t[i]))), i);
  }
}

Handle DxfDocument::Impl::HandleOf(std::span<const Tag> t) const {
  if (t.empty() || t[0].code != kCodeType) return 0;
  const std::string_view type = Trimmed(Value(t[0]));
  if (type == "SECTION") return 0;
  const int code = type == "DIMSTYLE" ? kCodeDimstyleHandle : kCodeHandle;
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i].code == code) return ParseHandle(Value(t[i])).value_or(0);
  }
  return 0;
}

// ---- Entity

std::string_view Entity::Type() const {
  const auto& d = doc_->impl();
  const std::uint32_t flags = d.records[id_].flags;
  if (!(flags & Record::kOverlay) && (flags >> Record::kTypeShift) != 0)
    return d.types[(flags >> Record::kTypeShift) - 1];
  const auto t = d.TagsOf(id_);
  if (t.empty() || t[0].code != kCodeType) return {};
  return Trimmed(d.Value(t[0]));
}

Handle Entity::handle() const {
  return doc_->impl().records[id_].handle;
}

Handle Entity::Owner() const {
  const auto& d = doc_->impl();
  int depth = 0;
  for (const Tag& t : d.TagsOf(id_)) {
    if (t.code == kCodeControl) {
      const std::string_view v = Trimmed(d.Value(t));
      if (!v.empty() && v.front() == '{') ++depth;
      if (v == "}" && depth > 0) --depth;
    } else if (t.code == kCodeOwner && depth == 0) {
      return ParseHandle(d.Value(t)).value_or(0);
    }
  }
  return 0;
}

std::vector<std::string_view> Entity::Subclasses() const {
  const auto& d = doc_->impl();
  std::vector<std::string_view> out;
  for (const Tag& t : d.TagsOf(id_)) {
    if (t.code == kCodeSubclass) out.push_back(Trimmed(d.Value(t)));
  }
  return out;
}

bool Entity::IsErased() const {
  return doc_->impl().records[id_].flags & Record::kErased;
}
bool Entity::IsModified() const {
  return doc_->impl().records[id_].flags & Record::kOverlay;
}
std::size_t Entity::TagCount() const {
  return doc_->impl().TagsOf(id_).size();
}
int Entity::Code(std::size_t i) const {
  return doc_->impl().TagsOf(id_)[i].code;
}
std::string_view Entity::Raw(std::size_t i) const {
  const auto& d = doc_->impl();
  return d.Value(d.TagsOf(id_)[i]);
}

std::wstring Entity::Text(std::size_t i) const {
  const auto& d = doc_->impl();
  const Tag& t = d.TagsOf(id_)[i];
  const std::string_view v = d.Value(t);
  const ValueType type = ValueTypeOf(t.code);
  if (d.format == Format::kBinary) {
    std::string s;
    switch (type) {
      case ValueType::kDouble:
        s = FormatReal(LoadLittle<double>(v));
        break;
      case ValueType::kInt16:
        s = std::to_string(LoadLittle<std::int16_t>(v));
        break;
      case ValueType::kInt32:
        s = std::to_string(LoadLittle<std::int32_t>(v));
        break;
      case ValueType::kInt64:
        s = std::to_string(LoadLittle<std::int64_t>(v));
        break;
      case ValueType::kBool:
        s = std::to_string(LoadLittle<std::uint8_t>(v));
        break;
      case ValueType::kBinary:
        s = HexBytes(std::span(reinterpret_cast<const std::uint8_t*>(v.data()), v.size()));
        break;
      default:
        return DecodeText(v, d.code_page);
    }
    return std::wstring(s.begin(), s.end());
  }
  if (IsNumeric(type)) {
    const std::string_view n = Trimmed(v);
    return std::wstring(n.begin(), n.end());
  }
  return DecodeText(v, d.code_page);
}

std::optional<double> Entity::Real(std::size_t i) const {
  const auto& d = doc_->impl();
  const Tag& t = d.TagsOf(id_)[i];
  const std::string_view v = d.Value(t);
  if (d.format == Format::kBinary) {
    switch (ValueTypeOf(t.code)) {
      case ValueType::kDouble:
        return LoadLittle<double>(v);
      case ValueType::kInt16:
        return LoadLittle<std::int16_t>(v);
      case ValueType::kInt32:
        return LoadLittle<std::int32_t>(v);
      case ValueType::kInt64:
        return static_cast<double>(LoadLittle<std::int64_t>(v));
      case ValueType::kBool:
        return LoadLittle<std::uint8_t>(v);
      case ValueType::kBinary:
        return std::nullopt;
      default:
        break;
    }
  }
  return ParseReal(v);
}

std::optional<std::int64_t> Entity::Integer(std::size_t i) const {
  const auto& d = doc_->impl();
  const Tag& t = d.TagsOf(id_)[i];
  const std::string_view v = d.Value(t);
  if (d.format == Format::kBinary) {
    switch (ValueTypeOf(t.code)) {
      case ValueType::kDouble:
        return std::nullopt;
      case ValueType::kInt16:
        return LoadLittle<std::int16_t>(v);
      case ValueType::kInt32:
        return LoadLittle<std::int32_t>(v);
      case ValueType::kInt64:
        return LoadLittle<std::int64_t>(v);
      case ValueType::kBool:
        return LoadLittle<std::uint8_t>(v);
      case ValueType::kBinary:
        return std::nullopt;
      default:
        break;
    }
  }
  return ParseInteger(v);
}

Handle Entity::HandleAt(std::size_t i) const {
  const auto& d = doc_->impl();
  const Tag& t = d.TagsOf(id_)[i];
  const ValueType type = ValueTypeOf(t.code);
  if (type != ValueType::kString && type != ValueType::kHandle) return 0;
  return ParseHandle(d.Value(t)).value_or(0);
}

std::size_t Entity::Find(int code, std::size_t from) const {
  const auto t = doc_->impl().TagsOf(id_);
  for (size_t i = from; i < t.size(); ++i) {
    if (t[i].code == code) return i;
  }
  return kNoTag;
}

std::size_t Entity::OwnEnd() const {
  const auto t = doc_->impl().TagsOf(id_);
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i].code == 101 || t[i].code == 1001) return i;
  }
  return t.size();
}

std::size_t Entity::FindOutsideGroups(int code, std::size_t from, std::size_t end) const {
  const auto& d = doc_->impl();
  const auto t = d.TagsOf(id_);
  end = std::min(end, t.size());
  bool in_group = false;
  for (size_t i = from; i < end; ++i) {
    if (t[i].code == kCodeControl) {
      const std::string_view raw = d.Value(t[i]);
      in_group = !raw.empty() && raw.front() == '{';
      continue;
    }
    if (!in_group && t[i].code == code) return i;
  }
  return kNoTag;
}

std::size_t Entity::FindInSubclass(std::string_view subclass, int code) const {
  const auto& d = doc_->impl();
  const auto t = d.TagsOf(id_);
  bool inside = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].code == kCodeSubclass) {
      inside = Trimmed(d.Value(t[i])) == subclass;
    } else if (inside && t[i].code == code) {
      return i;
    }
  }
  return kNoTag;
}

std::size_t Entity::FindXData(std::string_view app) const {
  const auto& d = doc_->impl();
  const auto t = d.TagsOf(id_);
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i].code != kCodeXDataApp) continue;
    const std::string_view v = Trimmed(d.Value(t[i]));
    if (v.size() == app.size() && std::equal(v.begin(), v.end(), app.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
        })) {
      return i;
    }
  }
  return kNoTag;
}

std::uint64_t Entity::SourcePosition() const {
  const Record& r = doc_->impl().records[id_];
  return (r.flags & Record::kNew) ? 0 : r.position;
}

RecordRange::iterator& RecordRange::iterator::operator++() {
  at_ = doc_->Next(at_);
  return *this;
}

// ---- DxfDocument: loading and queries

DxfDocument::DxfDocument() : impl_(std::make_unique<Impl>()) {}
DxfDocument::~DxfDocument() = default;

LoadResult DxfDocument::Load(const std::filesystem::path& path) {
  if (std::optional<LoadResult> read = TakePrefetched(path)) return std::move(*read);
  return ReadFile(path);
}

LoadResult DxfDocument::ReadFile(const std::filesystem::path& path) {
  const std::string name = path.string();
  FileBytes bytes;
  std::optional<std::string> failed;
  try {
    failed = ReadWholeFile(path, bytes);
  } catch (const std::bad_alloc&) {
    failed = "not enough memory to read the file";
  }
  if (failed) {
    LoadResult result;
    result.error = Diagnostic{name, 0, 0, false, std::move(*failed)};
    return result;
  }
  LoadResult result = ParseBytes(std::move(bytes), name);
  if (result.document) result.document->impl_->path = path;
  return result;
}

LoadResult DxfDocument::Parse(std::string bytes, std::string name) {
  return ParseBytes(FileBytes(std::move(bytes)), std::move(name));
}

LoadResult DxfDocument::ParseBytes(FileBytes bytes, std::string name) {
  LoadResult result;
  std::unique_ptr<DxfDocument> doc(new DxfDocument());
  Impl& d = *doc->impl_;
  d.name = std::move(name);
  d.bytes = std::move(bytes);
  d.data = d.bytes.view();
  if (d.data.size() > 4 && d.data.compare(0, 4, "AC10") == 0) {
    result.error =
        Diagnostic{d.name, 0, 0, false, "a DXF file expected, found a DWG drawing: save it as DXF"};
    return result;
  }
  Handle highest = 0;
  try {
    if (!ReadDxf(d, result, highest)) return result;
  } catch (const std::bad_alloc&) {
    result.error = Diagnostic{
        d.name, 0, 0, false,
        "not enough memory to index a file of " + std::to_string(d.data.size()) + " bytes"};
    return result;
  }

  // Repairs, each reported: they change the file's bytes on the next save.
  if (d.missing_eof) {
    // The last tag may lack its line end: rewrite it with one so that EOF starts a line.
    const RecordId last = d.last;
    const auto tags = d.TagsOf(last);
    if (d.format == Format::kAscii && tags.back().tail_len == 0) {
      const Tag old = tags.back();
      std::string raw(d.RawBytes(old));
      raw += d.eol;
      doc->EnsureOverlay(last);
      Tag& t = d.overlays[d.records[last].first].back();
      t = old;
      t.begin = static_cast<std::uint32_t>(d.arena.size());
      t.flags = Tag::kInArena;
      t.tail_len = static_cast<std::uint8_t>(d.eol.size());
      d.arena += raw;
    }
    const NewTag eof = NewTag::Text(kCodeType, L"EOF");
    doc->AddRecord(last, true, std::span(&eof, 1), true);
    d.tail_begin = static_cast<std::uint32_t>(d.data.size());
  }
  const auto seed_index = doc->FindHeader("$HANDSEED");
  std::optional<Handle> seed;
  if (seed_index != kNoTag) seed = doc->Get(d.header).HandleAt(seed_index);
  if (seed && *seed > highest) {
    d.next_handle = *seed;
  } else if (highest > 0 && d.header != kNoRecord) {
    d.next_handle = highest + 1;
    Diagnostic w;
    w.file = d.name;
    w.binary = d.format == Format::kBinary;
    w.line = w.binary ? 0 : d.records[d.header].position;
    w.message =
        seed ? "$HANDSEED above the highest handle " + HexHandle(highest) + " expected, found " +
                   HexHandle(*seed) + "; set to " + HexHandle(highest + 1)
             : "$HANDSEED expected in the header, found none; set to " + HexHandle(highest + 1);
    result.warnings.push_back(std::move(w));
    (void)doc->SetHeader("$HANDSEED", NewTag::HandleRef(kCodeHandle, highest + 1));
  }
  result.document = std::move(doc);
  return result;
}

Format DxfDocument::format() const {
  return impl_->format;
}
const std::string& DxfDocument::Version() const {
  return impl_->version;
}
int DxfDocument::VersionNumber() const {
  return impl_->version_number;
}
unsigned DxfDocument::CodePage() const {
  return impl_->code_page;
}
const std::filesystem::path& DxfDocument::Path() const {
  return impl_->path;
}
const std::vector<Section>& DxfDocument::Sections() const {
  return impl_->sections;
}

std::optional<Section> DxfDocument::FindSection(std::string_view name) const {
  for (const Section& s : impl_->sections) {
    if (s.name.size() == name.size() &&
        std::equal(s.name.begin(), s.name.end(), name.begin(),
                   [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
      return s;
    }
  }
  return std::nullopt;
}

RecordRange DxfDocument::Records(const Section& section) const {
  return Between(section.head, section.end);
}

RecordRange DxfDocument::Between(RecordId after, RecordId before) const {
  if (after >= impl_->records.size()) return RecordRange(this, before, before);
  RecordId first = impl_->records[after].next;
  while (first != kNoRecord && first != before && !impl_->Live(first)) {
    first = impl_->records[first].next;
  }
  return RecordRange(this, first, before);
}

RecordId DxfDocument::First() const {
  RecordId id = impl_->first;
  while (id != kNoRecord && !impl_->Live(id)) id = impl_->records[id].next;
  return id;
}

RecordId DxfDocument::Next(RecordId id) const {
  if (id >= impl_->records.size()) return kNoRecord;
  id = impl_->records[id].next;
  while (id != kNoRecord && !impl_->Live(id)) id = impl_->records[id].next;
  return id;
}

RecordId DxfDocument::Prev(RecordId id) const {
  if (id >= impl_->records.size()) return kNoRecord;
  id = impl_->records[id].prev;
  while (id != kNoRecord && !impl_->Live(id)) id = impl_->records[id].prev;
  return id;
}

RecordId DxfDocument::FindByHandle(Handle handle) const {
  const auto it = impl_->handles.find(handle);
  return it == impl_->handles.end() ? kNoRecord : it->second;
}

std::size_t DxfDocument::RecordCount() const {
  return impl_->records.size();
}
RecordId DxfDocument::HeaderRecord() const {
  return impl_->header;
}

std::size_t DxfDocument::FindHeader(std::string_view name) const {
  const auto it = impl_->header_vars.find(std::string(name));
  if (it == impl_->header_vars.end()) return kNoTag;
  if (it->second + 1 >= impl_->TagsOf(impl_->header).size()) return kNoTag;
  return it->second + 1;
}

std::optional<std::wstring> DxfDocument::HeaderText(std::string_view name) const {
  const size_t i = FindHeader(name);
  if (i == kNoTag) return std::nullopt;
  return Get(impl_->header).Text(i);
}

std::optional<double> DxfDocument::HeaderReal(std::string_view name) const {
  const size_t i = FindHeader(name);
  if (i == kNoTag) return std::nullopt;
  return Get(impl_->header).Real(i);
}

std::optional<std::int64_t> DxfDocument::HeaderInteger(std::string_view name) const {
  const size_t i = FindHeader(name);
  if (i == kNoTag) return std::nullopt;
  return Get(impl_->header).Integer(i);
}

bool DxfDocument::SetHeader(std::string_view name, const NewTag& value) {
  Impl& d = *impl_;
  if (d.header == kNoRecord || name.empty()) return false;
  const size_t i = FindHeader(name);
  if (i != kNoTag) return SetValue(d.header, i, value);
  const std::wstring wide_name(name.begin(), name.end());
  const NewTag tags[2] = {NewTag::Text(kCodeVariable, wide_name), value};
  return InsertTags(d.header, d.TagsOf(d.header).size(), tags);
}

// ---- Editing

void DxfDocument::EnsureOverlay(RecordId id) {
  Impl& d = *impl_;
  Record& r = d.records[id];
  if (r.flags & Record::kOverlay) return;
  const auto tags = d.TagsOf(id);
  d.overlays.emplace_back(tags.begin(), tags.end());
  r.first = static_cast<std::uint32_t>(d.overlays.size() - 1);
  r.count = 0;
  r.flags |= Record::kOverlay;
}

bool DxfDocument::MakeTag(const NewTag& v, const Tag* old, Tag& out) {
  Impl& d = *impl_;
  if (v.code < -32768 || v.code > 32767) return false;
  const ValueType type = ValueTypeOf(v.code);
  const bool binary = d.format == Format::kBinary;
  std::string value;
  using Kind = NewTag::Kind;
  auto as_integer = [&v](std::int64_t& n) {
    if (v.kind == Kind::kInteger) {
      n = v.integer;
      return true;
    }
    if (v.kind == Kind::kReal && std::isfinite(v.real) && v.real == std::trunc(v.real) &&
        std::abs(v.real) < 9.2e18) {
      n = static_cast<std::int64_t>(v.real);
      return true;
    }
    return false;
  };
  switch (type) {
    case ValueType::kString:
    case ValueType::kHandle: {
      switch (v.kind) {
        case Kind::kText:
          value = EncodeText(v.text, d.code_page, d.mbcs_escapes);
          if (type == ValueType::kHandle && !ParseHandle(value)) return false;
          break;
        case Kind::kReal:
          if (!std::isfinite(v.real)) return false;
          value = FormatReal(v.real);
          break;
        case Kind::kInteger:
          value = type == ValueType::kHandle ? HexHandle(static_cast<Handle>(v.integer))
                                             : std::to_string(v.integer);
          break;
        case Kind::kHandle:
          value = HexHandle(v.handle);
          break;
        case Kind::kBytes:
          value = HexBytes(v.bytes);
          break;
      }
      if (value.find_first_of(binary ? std::string_view("\0", 1) : "\r\n") != std::string::npos) {
        return false;
      }
      break;
    }
    case ValueType::kBinary: {
      std::vector<std::uint8_t> bytes;
      if (v.kind == Kind::kBytes) {
        bytes = v.bytes;
      } else if (v.kind == Kind::kText) {
        if (v.text.size() % 2) return false;
        for (size_t i = 0; i < v.text.size(); i += 2) {
          auto digit = [](wchar_t c) {
            return c >= L'0' && c <= L'9'   ? c - L'0'
                   : c >= L'A' && c <= L'F' ? c - L'A' + 10
                   : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                            : -1;
          };
          const int hi = digit(v.text[i]), lo = digit(v.text[i + 1]);
          if (hi < 0 || lo < 0) return false;
          bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
      } else {
        return false;
      }
      if (binary) {
        if (bytes.size() > 255) return false;
        value.push_back(static_cast<char>(bytes.size()));
        value.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      } else {
        value = HexBytes(bytes);
      }
      break;
    }
    case ValueType::kDouble: {
      double x;
      if (v.kind == Kind::kReal) {
        x = v.real;
      } else if (v.kind == Kind::kInteger) {
        x = static_cast<double>(v.integer);
      } else if (v.kind == Kind::kText) {
        const auto parsed = ParseReal(WideToUtf8(v.text));
        if (!parsed) return false;
        x = *parsed;
      } else {
        return false;
      }
      if (!std::isfinite(x)) return false;
      if (binary) {
        AppendLittle(value, x);
      } else {
        value = FormatReal(x);
      }
      break;
    }
    case ValueType::kInt16:
    case ValueType::kInt32:
    case ValueType::kInt64:
    case ValueType::kBool: {
      std::int64_t n = 0;
      if (v.kind == Kind::kText) {
        const auto parsed = ParseInteger(WideToUtf8(v.text));
        if (!parsed) return false;
        n = *parsed;
      } else if (!as_integer(n)) {
        return false;
      }
      if (type == ValueType::kInt16 && (n < -32768 || n > 32767)) return false;
      if (type == ValueType::kInt32 && (n < INT32_MIN || n > INT32_MAX)) return false;
      if (type == ValueType::kBool && n != 0 && n != 1) return false;
      if (binary) {
        if (type == ValueType::kInt16) AppendLittle(value, static_cast<std::int16_t>(n));
        if (type == ValueType::kInt32) AppendLittle(value, static_cast<std::int32_t>(n));
        if (type == ValueType::kInt64) AppendLittle(value, n);
        if (type == ValueType::kBool) value.push_back(static_cast<char>(n));
      } else {
        value = std::to_string(n);
      }
      break;
    }
  }
  // A number keeps the right alignment of the value it replaces (AutoCAD pads integers to 6).
  if (!binary && old && IsNumeric(type)) {
    const std::string_view before = d.Value(*old);
    if (!before.empty() && before.front() == ' ' && before.size() > value.size()) {
      value.insert(0, before.size() - value.size(), ' ');
    }
  }
  std::string code_bytes;
  std::string tail;
  if (binary) {
    if (d.binary_short_codes) {
      if (v.code >= 0 && v.code < 255) {
        code_bytes.push_back(static_cast<char>(v.code));
      } else {
        code_bytes.push_back(static_cast<char>(255));
        AppendLittle(code_bytes, static_cast<std::int16_t>(v.code));
      }
    } else {
      AppendLittle(code_bytes, static_cast<std::int16_t>(v.code));
    }
    if (type == ValueType::kString || type == ValueType::kHandle) tail.push_back('\0');
  } else {
    if (old && old->code == v.code) {
      code_bytes = std::string(d.RawBytes(*old).substr(0, old->value_off));
    } else {
      std::string digits = std::to_string(v.code);
      if (d.code_style == CodeStyle::kRightAligned3 && digits.size() < 3) {
        digits.insert(0, 3 - digits.size(), ' ');
      }
      code_bytes = digits + d.eol;
    }
    tail = old && old->tail_len
               ? std::string(d.RawBytes(*old).substr(old->value_off + old->value_len))
               : d.eol;
  }
  const size_t size = code_bytes.size() + value.size() + tail.size();
  if (d.arena.size() + size >= 0xFFFFFFF0u || code_bytes.size() > 0xFFFF ||
      value.size() >= 0xFFFFFFF0u) {
    return false;
  }
  out = Tag{};
  out.begin = static_cast<std::uint32_t>(d.arena.size());
  out.value_off = static_cast<std::uint16_t>(code_bytes.size());
  out.value_len = static_cast<std::uint32_t>(value.size());
  out.tail_len = static_cast<std::uint8_t>(tail.size());
  out.flags = Tag::kInArena;
  out.code = static_cast<std::int16_t>(v.code);
  d.arena += code_bytes;
  d.arena += value;
  d.arena += tail;
  return true;
}

bool DxfDocument::Commit(RecordId id, std::vector<Tag> tags) {
  Impl& d = *impl_;
  Record& r = d.records[id];
  const Handle now = d.HandleOf(tags);
  if (now != r.handle) {
    if (now != 0) {
      const auto it = d.handles.find(now);
      if (it != d.handles.end() && it->second != id) return false;
    }
    const auto old = d.handles.find(r.handle);
    if (r.handle && old != d.handles.end() && old->second == id) d.handles.erase(old);
    if (now) {
      d.handles[now] = id;
      if (now >= d.next_handle) d.next_handle = now + 1;
    }
    r.handle = now;
  }
  if (r.flags & Record::kOverlay) {
    d.overlays[r.first] = std::move(tags);
  } else {  // the new tags become the overlay: no copy of the old ones first
    d.overlays.push_back(std::move(tags));
    r.first = static_cast<std::uint32_t>(d.overlays.size() - 1);
    r.count = 0;
    r.flags |= Record::kOverlay;
  }
  d.Touch();
  if (id == d.header) d.RebuildHeaderIndex();
  return true;
}

bool DxfDocument::SetValue(RecordId id, std::size_t i, const NewTag& value) {
  Impl& d = *impl_;
  if (!d.Live(id)) return false;
  const auto tags = d.TagsOf(id);
  if (i >= tags.size() || (i == 0 && value.code != kCodeType)) return false;
  const Tag old = tags[i];
  Tag made;
  if (!MakeTag(value, &old, made)) return false;
  const bool structural = i == 0 || old.code == kCodeHandle || value.code == kCodeHandle ||
                          old.code == kCodeDimstyleHandle || value.code == kCodeDimstyleHandle ||
                          old.code == kCodeVariable || value.code == kCodeVariable;
  if (!structural) {
    EnsureOverlay(id);
    d.overlays[d.records[id].first][i] = made;
    d.Touch();
    return true;
  }
  std::vector<Tag> copy(tags.begin(), tags.end());
  copy[i] = made;
  return Commit(id, std::move(copy));
}

bool DxfDocument::SetText(RecordId id, std::size_t i, std::wstring_view text) {
  if (!impl_->Live(id) || i >= impl_->TagsOf(id).size()) return false;
  return SetValue(id, i, NewTag::Text(impl_->TagsOf(id)[i].code, text));
}
bool DxfDocument::SetReal(RecordId id, std::size_t i, double value) {
  if (!impl_->Live(id) || i >= impl_->TagsOf(id).size()) return false;
  return SetValue(id, i, NewTag::Real(impl_->TagsOf(id)[i].code, value));
}
bool DxfDocument::SetInteger(RecordId id, std::size_t i, std::int64_t value) {
  if (!impl_->Live(id) || i >= impl_->TagsOf(id).size()) return false;
  return SetValue(id, i, NewTag::Integer(impl_->TagsOf(id)[i].code, value));
}
bool DxfDocument::SetHandle(RecordId id, std::size_t i, Handle handle) {
  if (!impl_->Live(id) || i >= impl_->TagsOf(id).size()) return false;
  return SetValue(id, i, NewTag::HandleRef(impl_->TagsOf(id)[i].code, handle));
}

bool DxfDocument::InsertTags(RecordId id, std::size_t pos, std::span<const NewTag> tags) {
  Impl& d = *impl_;
  if (!d.Live(id)) return false;
  const auto now = d.TagsOf(id);
  if (pos < 1 || pos > now.size()) return false;
  std::vector<Tag> made;
  made.reserve(tags.size());
  for (const NewTag& t : tags) {
    if (t.code == kCodeType) return false;
    Tag m;
    if (!MakeTag(t, nullptr, m)) return false;
    made.push_back(m);
  }
  // Built at its final size: an edited record's tags stay in memory until the drawing closes.
  std::vector<Tag> copy;
  copy.reserve(now.size() + made.size());
  copy.insert(copy.end(), now.begin(), now.begin() + static_cast<std::ptrdiff_t>(pos));
  copy.insert(copy.end(), made.begin(), made.end());
  copy.insert(copy.end(), now.begin() + static_cast<std::ptrdiff_t>(pos), now.end());
  return Commit(id, std::move(copy));
}

bool DxfDocument::RemoveTags(RecordId id, std::size_t pos, std::size_t count) {
  Impl& d = *impl_;
  if (!d.Live(id)) return false;
  const auto now = d.TagsOf(id);
  if (pos < 1 || pos > now.size() || count > now.size() - pos) return false;
  std::vector<Tag> copy(now.begin(), now.end());
  copy.erase(copy.begin() + static_cast<std::ptrdiff_t>(pos),
             copy.begin() + static_cast<std::ptrdiff_t>(pos + count));
  return Commit(id, std::move(copy));
}

RecordId DxfDocument::AddRecord(RecordId anchor, bool after, std::span<const NewTag> tags,
                                bool structural) {
  Impl& d = *impl_;
  if (!d.Live(anchor) || tags.empty() || tags[0].code != kCodeType ||
      tags[0].kind != NewTag::Kind::kText) {
    return kNoRecord;
  }
  if (!structural) {
    const std::wstring& type = tags[0].text;
    if (type == L"SECTION" || type == L"ENDSEC" || type == L"EOF") return kNoRecord;
    const std::string_view anchor_type = Get(anchor).Type();
    // New records stay inside a section.
    if (after && (anchor_type == "ENDSEC" || anchor_type == "EOF" || anchor == d.first)) {
      return kNoRecord;
    }
    if (!after && (anchor_type == "SECTION" || anchor_type == "EOF" || anchor == d.first)) {
      return kNoRecord;
    }
    if (after && anchor_type == "SECTION") {
      bool is_head = false;
      for (const Section& s : d.sections) is_head |= s.head == anchor;
      if (!is_head) return kNoRecord;
    }
  }
  std::vector<Tag> made;
  made.reserve(tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    if (i > 0 && tags[i].code == kCodeType) return kNoRecord;
    Tag m;
    if (!MakeTag(tags[i], nullptr, m)) return kNoRecord;
    made.push_back(m);
  }
  const Handle handle = d.HandleOf(made);
  if (handle && d.handles.count(handle)) return kNoRecord;
  if (d.records.size() >= kNoRecord - 1) return kNoRecord;
  const RecordId id = static_cast<RecordId>(d.records.size());
  Record r;
  r.flags = Record::kOverlay | Record::kNew;
  r.first = static_cast<std::uint32_t>(d.overlays.size());
  r.handle = handle;
  d.overlays.push_back(std::move(made));
  if (after) {
    r.prev = anchor;
    r.next = d.records[anchor].next;
  } else {
    r.next = anchor;
    r.prev = d.records[anchor].prev;
  }
  d.records.push_back(r);
  if (r.prev != kNoRecord) {
    d.records[r.prev].next = id;
  } else {
    d.first = id;
  }
  if (r.next != kNoRecord) {
    d.records[r.next].prev = id;
  } else {
    d.last = id;
  }
  if (handle) {
    d.handles[handle] = id;
    if (handle >= d.next_handle) d.next_handle = handle + 1;
  }
  d.Touch();
  return id;
}

RecordId DxfDocument::InsertRecordAfter(RecordId after, std::span<const NewTag> tags) {
  return AddRecord(after, true, tags, false);
}
RecordId DxfDocument::InsertRecordBefore(RecordId before, std::span<const NewTag> tags) {
  return AddRecord(before, false, tags, false);
}

bool DxfDocument::Erase(RecordId id) {
  Impl& d = *impl_;
  if (!d.Live(id)) return false;
  const std::string_view type = Get(id).Type();
  if (type == "SECTION" || type == "ENDSEC" || type == "EOF") return false;
  Record& r = d.records[id];
  const auto it = d.handles.find(r.handle);
  if (r.handle && it != d.handles.end() && it->second == id) d.handles.erase(it);
  r.flags |= Record::kErased;
  d.Touch();
  return true;
}

Handle DxfDocument::NewHandle() {
  Impl& d = *impl_;
  const Handle h = d.next_handle++;
  if (d.header != kNoRecord) {
    (void)SetHeader("$HANDSEED", NewTag::HandleRef(kCodeHandle, d.next_handle));
  }
  d.Touch();
  return h;
}

std::uint64_t DxfDocument::EditCount() const {
  return impl_->edits;
}

bool DxfDocument::IsModified() const {
  return impl_->modified;
}

// ---- Writing

std::string DxfDocument::Serialize() const {
  std::string out;
  out.reserve(impl_->data.size() + impl_->arena.size());
  auto sink = [&out](std::string_view piece) { out.append(piece); };
  Emit(*impl_, sink);
  return out;
}

std::optional<Diagnostic> DxfDocument::Save() {
  if (impl_->path.empty()) {
    return Diagnostic{impl_->name, 0, 0, false, "a path to save to expected, found none"};
  }
  return SaveAs(impl_->path);
}

std::optional<Diagnostic> DxfDocument::SaveAs(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  const std::string name = path.string();
  auto failure = [&name](const std::string& what, int error) {
    return Diagnostic{name, 0, 0, false, what + ": " + std::strerror(error)};
  };
  std::error_code ec;
  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    return Diagnostic{name, 0, 0, false, "cannot save: the folder does not exist"};
  }
  if (fs::is_directory(path, ec)) {
    return Diagnostic{name, 0, 0, false, "cannot save: a folder has that name"};
  }
  static std::uint64_t counter = 0;
  const fs::path temp =
      path.string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  int error = Injected("open");
  const bool exists = fs::exists(path, ec);
  mode_t mode = 0666;
  struct stat st;
  if (exists && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  const int fd = error ? -1 : ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return failure("cannot create a temporary file beside it", error ? error : errno);
  auto abandon = [&](const std::string& what, int err) {
    ::close(fd);
    ::unlink(temp.c_str());
    return failure(what, err);
  };
  // Buffered writes straight from the file's bytes and the edit arena. The buffer is small:
  // big pieces go out directly, and a fresh megabyte would cost more to fault in than the
  // writes it saves.
  constexpr std::size_t kBuffer = 64 << 10;
  std::string buffer;
  buffer.reserve(kBuffer);
  int write_error = Injected("write");
  // The disk starts writing every few megabytes while the rest is being formed, so that the
  // flush at the end waits for the last ones only.
  constexpr off_t kWriteBehind = 4 << 20;
  off_t written = 0, sent_to_disk = 0;
  auto put = [&](std::string_view bytes) {
    size_t done = 0;
    while (!write_error && done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        write_error = errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
    written += static_cast<off_t>(done);
    if (written - sent_to_disk >= kWriteBehind) {
      (void)::sync_file_range(fd, sent_to_disk, written - sent_to_disk, SYNC_FILE_RANGE_WRITE);
      sent_to_disk = written;
    }
  };
  auto flush = [&]() {
    put(buffer);
    buffer.clear();
  };
  auto sink = [&](std::string_view piece) {
    if (write_error) return;
    if (piece.size() >= kBuffer) {
      flush();
      put(piece);
      return;
    }
    if (buffer.size() + piece.size() > buffer.capacity()) flush();
    buffer.append(piece);
  };
  Emit(*impl_, sink);
  flush();
  if (write_error) return abandon("cannot write", write_error);
  error = Injected("sync");
  if (error || ::fsync(fd) != 0) return abandon("cannot flush to disk", error ? error : errno);
  if (::close(fd) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return failure("cannot close", e);
  }
  if (exists) {
    // The old drawing stays as NAME.bak: a second name for the same file, so that the target
    // exists at every moment; a copy where the file system has no hard links.
    const fs::path backup = path.string() + ".bak";
    error = Injected("backup");
    if (!error) {
      ::unlink(backup.c_str());
      if (::link(path.c_str(), backup.c_str()) != 0) {
        fs::copy_file(path, backup, fs::copy_options::overwrite_existing, ec);
        if (ec) error = ec.value();
      }
    }
    if (error) {
      ::unlink(temp.c_str());
      return failure("cannot keep the previous file as " + backup.filename().string(), error);
    }
  }
  error = Injected("rename");
  if (error || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = error ? error : errno;
    ::unlink(temp.c_str());
    return failure("cannot replace the file", e);
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  impl_->path = path;
  impl_->modified = false;
  return std::nullopt;
}

}  // namespace sheetwise::dxf
