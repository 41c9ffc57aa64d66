#include "platform/host/editor.h"

#include <locale.h>
#include <clocale>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/dbapserv.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace sheetwise::host {

InputSource::~InputSource() = default;

namespace {

// One keyword of an acedInitGet list.
struct Keyword {
  std::wstring name;    // as written, capitals kept (what acedGetKword returns)
  std::wstring folded;  // FoldCase(name)
  std::wstring abbrev;  // folded shortest accepted form; empty: the whole name
  bool abbrev_is_prefix = true;
};

struct KeywordList {
  std::vector<Keyword> local;
  std::vector<Keyword> global;  // same length as local, or empty
};

// The editor's state; the host's main thread only.
struct Editor {
  InputSource* input = nullptr;
  std::function<void(std::wstring_view)> output;
  int flags = 0;
  std::optional<KeywordList> keywords;
  // The host's own variables (per process).
  short cmdecho = 1, cmddia = 1, filedia = 1;
};

Editor& State() {
  static Editor editor;
  return editor;
}

void Print(std::wstring_view text) {
  Editor& e = State();
  if (e.output) {
    e.output(text);
    return;
  }
  std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

// What one prompt read: a line, or a cancel (cancel keys, end of input, no input source).
struct Answer {
  bool cancelled = false;
  std::wstring text;
};

bool prompt_echo = true;

Answer Ask(const ACHAR* prompt) {
  std::wstring shown = prompt != nullptr ? prompt : L"";
  if (prompt_echo) Print(shown);
  Editor& e = State();
  std::optional<std::wstring> line;
  if (e.input != nullptr) line = e.input->ReadLine(shown);
  if (!line || *line == L"\x1b" || *line == L"\x03") {
    // The host shows the cancel on the command line.
    Print(L"*Cancel*\n");
    return {true, {}};
  }
  return {false, std::move(*line)};
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring_view Trim(std::wstring_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsUpper(wchar_t c) {
  return FoldCaseChar(c) != c;
}

Keyword MakeKeyword(std::wstring_view token) {
  Keyword kw;
  std::size_t comma = token.find(L',');
  kw.name = std::wstring(token.substr(0, comma));
  kw.folded = FoldCase(kw.name);
  if (comma != std::wstring_view::npos) {
    // "Name,AB": the abbreviation given outright.
    kw.abbrev = FoldCase(token.substr(comma + 1));
    kw.abbrev_is_prefix = kw.folded.starts_with(kw.abbrev);
    return kw;
  }
  // The capitals mark the abbreviation: the run of capitals (first to last capital).
  std::size_t first = std::wstring::npos, last = 0;
  for (std::size_t i = 0; i < kw.name.size(); ++i) {
    if (IsUpper(kw.name[i])) {
      if (first == std::wstring::npos) first = i;
      last = i;
    }
  }
  if (first == std::wstring::npos) return kw;  // no capitals: the whole name
  if (first == 0) {
    kw.abbrev = kw.folded.substr(0, last + 1);
  } else {
    // "eXit": "x" alone, or any prefix reaching the last capital ("ex", "exi", "exit").
    kw.abbrev = kw.folded.substr(first, last - first + 1);
    kw.abbrev_is_prefix = false;
  }
  return kw;
}

// Does the folded input name `kw`?
bool Matches(const Keyword& kw, std::wstring_view input) {
  if (input.empty()) return false;
  if (input == kw.folded) return true;
  if (kw.abbrev.empty()) return false;
  if (input == kw.abbrev) return true;
  if (!kw.folded.starts_with(input)) return false;
  if (kw.abbrev_is_prefix) return input.size() >= kw.abbrev.size();
  // A non-leading capital run: the prefix has to cover it.
  std::size_t run_end = kw.folded.find(kw.abbrev);
  return run_end != std::wstring::npos && input.size() >= run_end + kw.abbrev.size();
}

// The index of the keyword `input` names in `list`, or -1. A full name wins over an
// abbreviation of another keyword.
int FindKeyword(const std::vector<Keyword>& list, std::wstring_view input) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].folded == input) return static_cast<int>(i);
  for (std::size_t i = 0; i < list.size(); ++i)
    if (Matches(list[i], input)) return static_cast<int>(i);
  return -1;
}

std::optional<KeywordList> ParseKeywords(std::wstring_view text) {
  KeywordList list;
  bool in_global = false;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    std::wstring_view token = text.substr(start, i - start);
    if (token.empty()) break;
    if (token.front() == L'_') {
      if (in_global) return std::nullopt;  // a second "_"
      in_global = true;
      token.remove_prefix(1);
      if (token.empty()) continue;  // "_" standing alone before the global names
    }
    (in_global ? list.global : list.local).push_back(MakeKeyword(token));
  }
  if (in_global && list.global.size() != list.local.size()) return std::nullopt;
  return list;
}

int CopyOut(std::wstring_view text, ACHAR* result, std::size_t bufsize) {
  if (text.size() + 1 > bufsize) return RTERROR;
  text.copy(result, text.size());
  result[text.size()] = L'\0';
  return RTNORM;
}

// ---- acutPrintf

// Formats a number conversion through snprintf in the "C" locale, so that the decimal point is
// a point whatever the user's locale.
template <typename T>
std::string FormatNumber(const std::string& conv_text, T value) {
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  locale_t previous = uselocale(c_locale);
  char small[128];
  int n = std::snprintf(small, sizeof small, conv_text.c_str(), value);
  std::string out;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(out.data(), out.size(), conv_text.c_str(), value);
    out.resize(static_cast<std::size_t>(n));
  }
  uselocale(previous);
  return out;
}

// Pads `text` to `width` as printf does for strings.
std::wstring Pad(std::wstring text, int width, bool left) {
  if (width > 0 && text.size() < static_cast<std::size_t>(width)) {
    std::wstring fill(static_cast<std::size_t>(width) - text.size(), L' ');
    text = left ? text + fill : fill + text;
  }
  return text;
}

std::optional<std::wstring> Format(const ACHAR* format, va_list args) {
  std::wstring out;
  for (const ACHAR* p = format; *p != L'\0'; ++p) {
    if (*p != L'%') {
      out += *p;
      continue;
    }
    ++p;
    if (*p == L'%') {
      out += L'%';
      continue;
    }
    std::string conv_text = "%";
    bool left = false;
    while (*p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0') {
      if (*p == L'-') left = true;
      conv_text += static_cast<char>(*p++);
    }
    int width = -1;
    if (*p == L'*') {
      width = va_arg(args, int);
      if (width < 0) {
        left = true;
        width = -width;
        conv_text += '-';
      }
      conv_text += std::to_string(width);
      ++p;
    } else {
      int w = 0;
      bool any = false;
      while (*p >= L'0' && *p <= L'9') {
        w = w * 10 + (*p++ - L'0');
        any = true;
        if (w > 100000) return std::nullopt;
      }
      if (any) {
        width = w;
        conv_text += std::to_string(w);
      }
    }
    int precision = -1;
    if (*p == L'.') {
      ++p;
      precision = 0;
      if (*p == L'*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= L'0' && *p <= L'9') {
          precision = precision * 10 + (*p++ - L'0');
          if (precision > 100000) return std::nullopt;
        }
      }
      if (precision >= 0) conv_text += "." + std::to_string(precision);
    }
    // Length modifiers.
    enum class Len { kNone, kH, kHH, kL, kLL, kZ, kJ, kBigL } len = Len::kNone;
    if (*p == L'h') {
      len = Len::kH;
      if (*++p == L'h') {
        len = Len::kHH;
        ++p;
      }
    } else if (*p == L'l') {
      len = Len::kL;
      if (*++p == L'l') {
        len = Len::kLL;
        ++p;
      }
    } else if (*p == L'z') {
      len = Len::kZ;
      ++p;
    } else if (*p == L'j') {
      len = Len::kJ;
      ++p;
    } else if (*p == L'L') {
      len = Len::kBigL;
      ++p;
    } else if (*p == L'I' && p[1] == L'6' && p[2] == L'4') {  // Microsoft's %I64d
      len = Len::kLL;
      p += 3;
    }
    wchar_t conv = *p;
    switch (conv) {
      case L'd':
      case L'i': {
        long long v = 0;
        switch (len) {
          case Len::kLL:
            v = va_arg(args, long long);
            break;
          case Len::kL:
            v = va_arg(args, long);
            break;
          case Len::kZ:
            v = va_arg(args, std::ptrdiff_t);
            break;
          case Len::kJ:
            v = va_arg(args, std::intmax_t);
            break;
          case Len::kH:
            v = static_cast<short>(va_arg(args, int));
            break;
          case Len::kHH:
            v = static_cast<signed char>(va_arg(args, int));
            break;
          default:
            v = va_arg(args, int);
            break;
        }
        out += Utf8ToWide(FormatNumber(conv_text + "lld", v));
        break;
      }
      case L'u':
      case L'x':
      case L'X':
      case L'o': {
        unsigned long long v = 0;
        switch (len) {
          case Len::kLL:
            v = va_arg(args, unsigned long long);
            break;
          case Len::kL:
            v = va_arg(args, unsigned long);
            break;
          case Len::kZ:
            v = va_arg(args, std::size_t);
            break;
          case Len::kJ:
            v = va_arg(args, std::uintmax_t);
            break;
          case Len::kH:
            v = static_cast<unsigned short>(va_arg(args, unsigned));
            break;
          case Len::kHH:
            v = static_cast<unsigned char>(va_arg(args, unsigned));
            break;
          default:
            v = va_arg(args, unsigned);
            break;
        }
        out += Utf8ToWide(FormatNumber(conv_text + "ll" + static_cast<char>(conv), v));
        break;
      }
      case L'f':
      case L'F':
      case L'e':
      case L'E':
      case L'g':
      case L'G':
      case L'a':
      case L'A': {
        if (len == Len::kBigL) {
          long double v = va_arg(args, long double);
          out += Utf8ToWide(FormatNumber(conv_text + "L" + static_cast<char>(conv), v));
        } else {
          double v = va_arg(args, double);
          out += Utf8ToWide(FormatNumber(conv_text + static_cast<char>(conv), v));
        }
        break;
      }
      case L'c':
      case L'C': {
        wchar_t c = len == Len::kH
                        ? static_cast<wchar_t>(static_cast<unsigned char>(va_arg(args, int)))
                        : static_cast<wchar_t>(va_arg(args, wint_t));
        out += Pad(std::wstring(1, c), width, left);
        break;
      }
      case L's':
      case L'S': {
        std::wstring text;
        if (len == Len::kH) {
          const char* s = va_arg(args, const char*);
          text = s != nullptr ? Utf8ToWide(s) : L"(null)";
        } else {
          const wchar_t* s = va_arg(args, const wchar_t*);
          text = s != nullptr ? s : L"(null)";
        }
        if (precision >= 0 && text.size() > static_cast<std::size_t>(precision))
          text.resize(static_cast<std::size_t>(precision));
        out += Pad(std::move(text), width, left);
        break;
      }
      case L'p': {
        void* v = va_arg(args, void*);
        out += Utf8ToWide(FormatNumber(conv_text + "p", v));
        break;
      }
      default:
        return std::nullopt;  // unknown conversion, or the format ends inside one
    }
  }
  return out;
}

// ---- system variables

enum class VarKind {
  kHost,
  kLunits,
  kLuprec,
  kAunits,
  kAuprec,
  kDimzin,
  kUnitmode,
  kAngbase,
  kAngdir,
  kDwgname,
  kDwgprefix
};

struct VarInfo {
  const wchar_t* name;
  VarKind kind;
  short Editor::*host;  // kHost only
};

constexpr VarInfo kVars[] = {
    {L"CMDECHO", VarKind::kHost, &Editor::cmdecho}, {L"CMDDIA", VarKind::kHost, &Editor::cmddia},
    {L"FILEDIA", VarKind::kHost, &Editor::filedia}, {L"LUNITS", VarKind::kLunits, nullptr},
    {L"LUPREC", VarKind::kLuprec, nullptr},         {L"AUNITS", VarKind::kAunits, nullptr},
    {L"AUPREC", VarKind::kAuprec, nullptr},         {L"DIMZIN", VarKind::kDimzin, nullptr},
    {L"UNITMODE", VarKind::kUnitmode, nullptr},     {L"ANGBASE", VarKind::kAngbase, nullptr},
    {L"ANGDIR", VarKind::kAngdir, nullptr},         {L"DWGNAME", VarKind::kDwgname, nullptr},
    {L"DWGPREFIX", VarKind::kDwgprefix, nullptr},
};

const VarInfo* FindVar(const ACHAR* name) {
  if (name == nullptr) return nullptr;
  std::wstring_view wanted = Trim(name);
  for (const VarInfo& v : kVars)
    if (EqualsNoCase(v.name, wanted)) return &v;
  return nullptr;
}

std::filesystem::path DrawingPath(AcDbDatabase* db) {
  const ACHAR* file = nullptr;
  if (db->getFilename(file) == Acad::eOk && file != nullptr && *file != L'\0')
    return std::filesystem::absolute(std::filesystem::path(file));
  // A new drawing: the host's name for it, in the current folder.
  return std::filesystem::current_path() / L"Drawing1.dxf";
}

}  // namespace

void SetInput(InputSource* source) {
  State().input = source;
}

void SetOutput(std::function<void(std::wstring_view)> output) {
  State().output = std::move(output);
}

void SetPromptEcho(bool on) {
  prompt_echo = on;
}
bool PromptEcho() {
  return prompt_echo;
}

}  // namespace sheetwise::host

using namespace sheetwise::host;

int acutPrintf(const ACHAR* format, ...) {
  if (format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  std::optional<std::wstring> text = Format(format, args);
  va_end(args);
  if (!text) return -1;
  Print(*text);
  return static_cast<int>(text->size());
}

int acedInitGet(int flags, const ACHAR* keywords) {
  Editor& e = State();
  e.flags = 0;
  e.keywords.reset();
  std::optional<KeywordList> list;
  if (keywords != nullptr && *keywords != L'\0') {
    list = ParseKeywords(keywords);
    if (!list) return RTERROR;
    if (list->local.empty()) list.reset();
  }
  e.flags = flags;
  e.keywords = std::move(list);
  return RTNORM;
}

int acedGetKword(const ACHAR* prompt, ACHAR* result, std::size_t bufsize) {
  Editor& e = State();
  // The conditions apply to this prompt only.
  int flags = e.flags;
  std::optional<KeywordList> list = std::move(e.keywords);
  e.flags = 0;
  e.keywords.reset();
  if (result == nullptr || !list) return RTERROR;
  for (;;) {
    Answer answer = Ask(prompt);
    if (answer.cancelled) return RTCAN;
    std::wstring_view typed = Trim(answer.text);
    if (typed.empty()) {
      if (flags & RSG_NONULL) continue;
      if (bufsize > 0) result[0] = L'\0';
      return RTNONE;
    }
    std::wstring folded = FoldCase(typed);
    int index = -1;
    if (folded.size() > 1 && folded.front() == L'_') {
      std::wstring_view rest = std::wstring_view(folded).substr(1);
      index = FindKeyword(list->global.empty() ? list->local : list->global, rest);
    } else {
      index = FindKeyword(list->local, folded);
    }
    if (index >= 0) {
      const std::vector<Keyword>& names = list->global.empty() ? list->local : list->global;
      return CopyOut(names[static_cast<std::size_t>(index)].name, result, bufsize);
    }
    if (flags & RSG_OTHER) return CopyOut(typed, result, bufsize);
    Print(L"Invalid option keyword.\n");
  }
}

int acedGetString(int cronly, const ACHAR* prompt, ACHAR* result, std::size_t bufsize) {
  Editor& e = State();
  int flags = e.flags;
  e.flags = 0;
  e.keywords.reset();
  if (result == nullptr) return RTERROR;
  for (;;) {
    Answer answer = Ask(prompt);
    if (answer.cancelled) return RTCAN;
    std::wstring_view text = answer.text;
    if (cronly == 0) {
      // A blank ends the input, as the space bar does at the host's prompt.
      std::size_t blank = text.find_first_of(L" \t");
      if (blank != std::wstring_view::npos) text = text.substr(0, blank);
    }
    if (text.empty() && (flags & RSG_NONULL)) continue;
    return CopyOut(text, result, bufsize);
  }
}

int acedGetVar(const ACHAR* name, resbuf* result) {
  const VarInfo* var = FindVar(name);
  if (var == nullptr || result == nullptr) return RTERROR;
  if (var->kind == VarKind::kHost) {
    result->rbnext = nullptr;
    result->restype = RTSHORT;
    result->resval.rint = State().*(var->host);
    return RTNORM;
  }
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return RTERROR;
  short value = 0;
  switch (var->kind) {
    case VarKind::kLunits:
      value = db->lunits();
      break;
    case VarKind::kLuprec:
      value = db->luprec();
      break;
    case VarKind::kAunits:
      value = db->aunits();
      break;
    case VarKind::kAuprec:
      value = db->auprec();
      break;
    case VarKind::kDimzin:
      value = db->dimzin();
      break;
    case VarKind::kUnitmode:
      value = db->unitmode();
      break;
    case VarKind::kAngdir:
      value = db->angdir() ? 1 : 0;
      break;
    case VarKind::kAngbase:
      result->rbnext = nullptr;
      result->restype = RTREAL;
      result->resval.rreal = db->angbase();
      return RTNORM;
    case VarKind::kDwgname:
    case VarKind::kDwgprefix: {
      std::filesystem::path path = DrawingPath(db);
      std::wstring text =
          var->kind == VarKind::kDwgname
              ? path.filename().wstring()
              : path.parent_path().wstring() +
                    static_cast<wchar_t>(std::filesystem::path::preferred_separator);
      result->rbnext = nullptr;
      result->restype = RTSTR;
      result->resval.rstring = acutNewString(text.c_str());
      return RTNORM;
    }
    case VarKind::kHost:
      break;
  }
  result->rbnext = nullptr;
  result->restype = RTSHORT;
  result->resval.rint = value;
  return RTNORM;
}

int acedSetVar(const ACHAR* name, const resbuf* value) {
  const VarInfo* var = FindVar(name);
  if (var == nullptr || value == nullptr) return RTERROR;
  long number = 0;
  if (value->restype == RTSHORT)
    number = value->resval.rint;
  else if (value->restype == RTLONG)
    number = value->resval.rlong;
  else
    return RTERROR;
  if (var->kind == VarKind::kHost) {
    if (number != 0 && number != 1) return RTERROR;
    State().*(var->host) = static_cast<short>(number);
    return RTNORM;
  }
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return RTERROR;
  if (number < -32768 || number > 32767) return RTERROR;
  auto v = static_cast<Adesk::Int16>(number);
  Acad::ErrorStatus es = Acad::eNotApplicable;
  switch (var->kind) {
    case VarKind::kLunits:
      es = db->setLunits(v);
      break;
    case VarKind::kLuprec:
      es = db->setLuprec(v);
      break;
    case VarKind::kAunits:
      es = db->setAunits(v);
      break;
    case VarKind::kAuprec:
      es = db->setAuprec(v);
      break;
    case VarKind::kDimzin:
      es = number >= 0 && number <= 255 ? db->setDimzin(static_cast<Adesk::UInt8>(number))
                                        : Acad::eInvalidInput;
      break;
    case VarKind::kUnitmode:
      es = db->setUnitmode(v);
      break;
    default:
      break;  // read-only here
  }
  return es == Acad::eOk ? RTNORM : RTERROR;
}
