#include "link/registrar.h"

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <optional>

#include "platform/win/registry.h"

namespace {

enum class Flag { kNone, kNoRemove, kForceRemove, kDelete };

struct Value {
  std::wstring name;  // "" for the default value
  DWORD type = REG_SZ;
  std::wstring text;
  DWORD number = 0;
};

struct Key {
  Flag flag = Flag::kNone;
  std::wstring name;
  std::optional<Value> default_value;
  std::vector<Value> values;
  std::vector<Key> subkeys;
};

struct Root {
  HKEY hkey;
  std::vector<Key> keys;
};

enum class Tok { kEnd, kOpen, kClose, kEquals, kWord, kQuoted };

struct Token {
  Tok kind = Tok::kEnd;
  std::wstring text;
  int line = 1;
};

bool SameText(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

std::wstring Describe(const Token& t) {
  switch (t.kind) {
    case Tok::kEnd:
      return L"end of script";
    case Tok::kOpen:
      return L"'{'";
    case Tok::kClose:
      return L"'}'";
    case Tok::kEquals:
      return L"'='";
    case Tok::kQuoted:
      return L"'" + t.text + L"' (quoted)";
    case Tok::kWord:
      break;
  }
  return L"'" + t.text + L"'";
}

class Parser {
 public:
  Parser(std::wstring_view text, const std::vector<RegistryReplacement>& replacements)
      : text_(text), replacements_(replacements) {}

  // The roots of the script; nullopt with error_ set when it does not parse.
  std::optional<std::vector<Root>> Parse() {
    std::vector<Root> roots;
    for (;;) {
      Token t = Next();
      if (!error_.empty()) return std::nullopt;
      if (t.kind == Tok::kEnd) break;
      if (t.kind != Tok::kWord) return Fail(t, L"a root key (HKCR, HKCU, HKLM, HKU)");
      Root root{RootKey(t.text), {}};
      if (root.hkey == nullptr) return Fail(t, L"a root key (HKCR, HKCU, HKLM, HKU)");
      Token open = Next();
      if (open.kind != Tok::kOpen) return Fail(open, L"'{'");
      if (!ParseBody(nullptr, &root.keys)) return std::nullopt;
      roots.push_back(std::move(root));
    }
    return roots;
  }

  const std::wstring& error() const { return error_; }

 private:
  static HKEY RootKey(std::wstring_view word) {
    if (SameText(word, L"HKCR") || SameText(word, L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
    if (SameText(word, L"HKCU") || SameText(word, L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
    if (SameText(word, L"HKLM") || SameText(word, L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
    if (SameText(word, L"HKU") || SameText(word, L"HKEY_USERS")) return HKEY_USERS;
    return nullptr;
  }

  std::nullopt_t Fail(const Token& found, const std::wstring& expected) {
    if (error_.empty()) {
      error_ = L"line " + std::to_wstring(found.line) + L": " + expected + L" expected, found " +
               Describe(found);
    }
    return std::nullopt;
  }

  // Subkeys (and, inside a key, named values) up to the closing brace.
  bool ParseBody(Key* owner, std::vector<Key>* keys) {
    for (;;) {
      Token t = Next();
      if (!error_.empty()) return false;
      if (t.kind == Tok::kClose) return true;
      if (t.kind != Tok::kWord && t.kind != Tok::kQuoted) {
        Fail(t, owner != nullptr ? L"a key name, 'val' or '}'" : L"a key name or '}'");
        return false;
      }
      if (t.kind == Tok::kWord && owner == nullptr && SameText(t.text, L"val")) {
        Fail(t, L"a key name or '}'");
        return false;
      }
      if (t.kind == Tok::kWord && owner != nullptr && SameText(t.text, L"val")) {
        Token name = Next();
        if (name.kind != Tok::kWord && name.kind != Tok::kQuoted) {
          Fail(name, L"a value name");
          return false;
        }
        Token equals = Next();
        if (equals.kind != Tok::kEquals) {
          Fail(equals, L"'='");
          return false;
        }
        Value value;
        value.name = name.text;
        if (!ParseValue(&value)) return false;
        owner->values.push_back(std::move(value));
        continue;
      }
      Key key;
      if (t.kind == Tok::kWord) {
        if (SameText(t.text, L"NoRemove")) key.flag = Flag::kNoRemove;
        if (SameText(t.text, L"ForceRemove")) key.flag = Flag::kForceRemove;
        if (SameText(t.text, L"Delete")) key.flag = Flag::kDelete;
        if (key.flag != Flag::kNone) {
          t = Next();
          if (t.kind != Tok::kWord && t.kind != Tok::kQuoted) {
            Fail(t, L"a key name");
            return false;
          }
        }
      }
      key.name = t.text;
      if (key.name.empty() || key.name.find(L'\\') != std::wstring::npos) {
        Fail(t, L"a key name without backslashes");
        return false;
      }
      Token after = Peek();
      if (after.kind == Tok::kEquals) {
        Next();
        Value value;
        if (!ParseValue(&value)) return false;
        key.default_value = std::move(value);
        after = Peek();
      }
      if (after.kind == Tok::kOpen) {
        Next();
        if (!ParseBody(&key, &key.subkeys)) return false;
      }
      keys->push_back(std::move(key));
    }
  }

  // After '=': a type letter and the value.
  bool ParseValue(Value* value) {
    Token type = Next();
    if (type.kind != Tok::kWord || !(SameText(type.text, L"s") || SameText(type.text, L"d"))) {
      Fail(type, L"a value type (s or d)");
      return false;
    }
    Token data = Next();
    if (data.kind != Tok::kWord && data.kind != Tok::kQuoted) {
      Fail(data, L"a value");
      return false;
    }
    if (SameText(type.text, L"s")) {
      value->type = REG_SZ;
      value->text = data.text;
      return true;
    }
    value->type = REG_DWORD;
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long number = std::wcstoull(data.text.c_str(), &end, 0);
    if (data.text.empty() || *end != L'\0' || errno != 0 || number > 0xFFFFFFFFull) {
      Fail(data, L"a 32-bit number");
      return false;
    }
    value->number = static_cast<DWORD>(number);
    return true;
  }

  Token Peek() {
    const std::size_t at = at_;
    const int line = line_;
    Token t = Next();
    at_ = at;
    line_ = line;
    return t;
  }

  Token Next() {
    while (at_ < text_.size() && std::iswspace(text_[at_])) {
      if (text_[at_] == L'\n') ++line_;
      ++at_;
    }
    Token t;
    t.line = line_;
    if (at_ >= text_.size()) return t;
    const wchar_t c = text_[at_];
    // A brace stands alone; one that starts a longer word begins a key name such as a braced
    // class id.
    const bool lone = at_ + 1 >= text_.size() || std::iswspace(text_[at_ + 1]) ||
                      text_[at_ + 1] == L'{' || text_[at_ + 1] == L'}';
    if (c == L'=' || ((c == L'{' || c == L'}') && lone)) {
      ++at_;
      t.kind = c == L'{' ? Tok::kOpen : c == L'}' ? Tok::kClose : Tok::kEquals;
      t.text.assign(1, c);
      return t;
    }
    std::wstring raw;
    if (c == L'\'') {
      t.kind = Tok::kQuoted;
      ++at_;
      for (;;) {
        if (at_ >= text_.size()) {
          error_ = L"line " + std::to_wstring(t.line) + L": the quoted text has no closing quote";
          return t;
        }
        if (text_[at_] == L'\'') {
          if (at_ + 1 < text_.size() && text_[at_ + 1] == L'\'') {
            raw += L'\'';
            at_ += 2;
            continue;
          }
          ++at_;
          break;
        }
        if (text_[at_] == L'\n') ++line_;
        raw += text_[at_++];
      }
    } else {
      t.kind = Tok::kWord;
      while (at_ < text_.size() && !std::iswspace(text_[at_]) && text_[at_] != L'=' &&
             text_[at_] != L'\'') {
        raw += text_[at_++];
      }
    }
    t.text = Replace(raw, t.line);
    return t;
  }

  // %NAME% inside a token; %% is a percent sign.
  std::wstring Replace(const std::wstring& raw, int line) {
    std::wstring out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != L'%') {
        out += raw[i];
        continue;
      }
      const std::size_t close = raw.find(L'%', i + 1);
      if (close == std::wstring::npos) {
        error_ = L"line " + std::to_wstring(line) + L": '%' without its closing '%'";
        return out;
      }
      const std::wstring name = raw.substr(i + 1, close - i - 1);
      if (name.empty()) {
        out += L'%';
      } else {
        bool found = false;
        for (const auto& [key, text] : replacements_) {
          if (SameText(key, name)) {
            out += text;
            found = true;
            break;
          }
        }
        if (!found && error_.empty())
          error_ = L"line " + std::to_wstring(line) + L": no value for %" + name + L"%";
      }
      i = close;
    }
    return out;
  }

  std::wstring_view text_;
  const std::vector<RegistryReplacement>& replacements_;
  std::size_t at_ = 0;
  int line_ = 1;
  std::wstring error_;
};

class Writer {
 public:
  explicit Writer(std::wstring* error) : error_(error) {}

  LONG Register(HKEY parent, const std::wstring& path, const Key& key) {
    const std::wstring here = path + L"\\" + key.name;
    // A key already exactly as the script describes it is left alone: removing and writing it
    // again at every start would rewrite the settings store several times over.
    if (key.flag == Flag::kForceRemove && Holds(parent, key)) return ERROR_SUCCESS;
    if (key.flag == Flag::kDelete || key.flag == Flag::kForceRemove) {
      const LONG status = RegDeleteTreeW(parent, key.name.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return Failed(status, L"cannot remove ", here);
      if (key.flag == Flag::kDelete) return ERROR_SUCCESS;
    }
    HKEY opened = nullptr;
    LONG status = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) return Failed(status, L"cannot create ", here);
    if (key.default_value) status = SetValue(opened, *key.default_value, here);
    for (const Value& value : key.values) {
      if (status != ERROR_SUCCESS) break;
      status = SetValue(opened, value, here);
    }
    for (const Key& sub : key.subkeys) {
      if (status != ERROR_SUCCESS) break;
      status = Register(opened, here, sub);
    }
    RegCloseKey(opened);
    return status;
  }

  LONG Unregister(HKEY parent, const std::wstring& path, const Key& key) {
    const std::wstring here = path + L"\\" + key.name;
    if (key.flag == Flag::kDelete) return ERROR_SUCCESS;
    if (key.flag == Flag::kForceRemove) {
      const LONG status = RegDeleteTreeW(parent, key.name.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return Failed(status, L"cannot remove ", here);
      return ERROR_SUCCESS;
    }
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return Failed(status, L"cannot open ", here);
    for (const Key& sub : key.subkeys) {
      status = Unregister(opened, here, sub);
      if (status != ERROR_SUCCESS) break;
    }
    bool empty = false;
    if (status == ERROR_SUCCESS && key.flag != Flag::kNoRemove) {
      for (const Value& value : key.values) {
        const LONG removed = RegDeleteValueW(opened, value.name.c_str());
        if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
          status = Failed(removed, L"cannot remove a value of ", here);
          break;
        }
      }
      wchar_t name[256];
      DWORD chars = 256;
      empty = RegEnumKeyExW(opened, 0, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
              ERROR_NO_MORE_ITEMS;
    }
    RegCloseKey(opened);
    if (status == ERROR_SUCCESS && empty) {
      status = RegDeleteKeyW(parent, key.name.c_str());
      if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
      if (status != ERROR_SUCCESS) return Failed(status, L"cannot remove ", here);
    }
    return status;
  }

 private:
  // Whether the key under `parent` holds the script's values and sub keys and nothing else.
  static bool Holds(HKEY parent, const Key& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
      return false;
    bool same = true;
    std::size_t values = 0;
    auto value_is = [&](const Value& value) {
      ++values;
      DWORD type = 0;
      std::vector<BYTE> data(4096);
      auto size = static_cast<DWORD>(data.size());
      if (RegQueryValueExW(opened, value.name.c_str(), nullptr, &type, data.data(), &size) !=
              ERROR_SUCCESS ||
          type != value.type)
        return false;
      if (type == REG_DWORD)
        return size == sizeof(DWORD) && !std::memcmp(data.data(), &value.number, size);
      const std::size_t bytes = (value.text.size() + 1) * sizeof(WCHAR);
      return size == bytes && !std::memcmp(data.data(), value.text.c_str(), bytes);
    };
    if (key.default_value) same = value_is(*key.default_value);
    for (const Value& value : key.values) same = same && value_is(value);
    wchar_t name[256];
    DWORD chars = 256;
    // No value or sub key beyond the script's.
    same = same && RegEnumValueW(opened, static_cast<DWORD>(values), name, &chars, nullptr, nullptr,
                                 nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
    DWORD kept = 0;
    for (const Key& sub : key.subkeys) {
      if (sub.flag == Flag::kDelete) {
        HKEY gone = nullptr;
        const bool present =
            RegOpenKeyExW(opened, sub.name.c_str(), 0, KEY_READ, &gone) == ERROR_SUCCESS;
        if (present) RegCloseKey(gone);
        same = same && !present;
      } else {
        ++kept;
        same = same && Holds(opened, sub);
      }
    }
    chars = 256;
    same = same && RegEnumKeyExW(opened, kept, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
                       ERROR_NO_MORE_ITEMS;
    RegCloseKey(opened);
    return same;
  }

  LONG SetValue(HKEY key, const Value& value, const std::wstring& path) {
    LONG status;
    if (value.type == REG_DWORD) {
      status = RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&value.number), sizeof(DWORD));
    } else {
      status = RegSetValueExW(key, value.name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.text.c_str()),
                              static_cast<DWORD>((value.text.size() + 1) * sizeof(WCHAR)));
    }
    if (status != ERROR_SUCCESS)
      return Failed(status, L"cannot set value '" + value.name + L"' of ", path);
    return status;
  }

  LONG Failed(LONG status, const std::wstring& what, const std::wstring& path) {
    if (error_ != nullptr && error_->empty())
      *error_ = what + path + L" (error " + std::to_wstring(status) + L")";
    return status;
  }

  std::wstring* error_;
};

const wchar_t* RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  return L"HKEY_USERS";
}

}  // namespace

HRESULT RunRegistryScript(std::wstring_view script, bool do_register,
                          const std::vector<RegistryReplacement>& replacements,
                          std::wstring* error) {
  if (error != nullptr) error->clear();
  Parser parser(script, replacements);
  std::optional<std::vector<Root>> roots = parser.Parse();
  if (!roots) {
    if (error != nullptr) *error = parser.error();
    return DISP_E_EXCEPTION;
  }
  Writer writer(error);
  for (const Root& root : *roots) {
    for (const Key& key : root.keys) {
      const LONG status = do_register ? writer.Register(root.hkey, RootName(root.hkey), key)
                                      : writer.Unregister(root.hkey, RootName(root.hkey), key);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
    }
  }
  return S_OK;
}
