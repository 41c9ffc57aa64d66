// CLSIDFromProgID: a ProgID's class id from the settings store (HKEY_CLASSES_ROOT).
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"
#include "platform/win/registry.h"

namespace {

HRESULT LookUp(const std::wstring& name, LPCLSID clsid) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (name + L"\\CLSID").c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return CO_E_CLASSSTRING;
  }
  // The braced form is 38 characters; a longer value is not a class id.
  wchar_t text[40] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);  // keeps room for a terminating zero
  DWORD type = REG_NONE;
  const LONG read =
      RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || type != REG_SZ || text[0] != L'{') return CO_E_CLASSSTRING;
  CLSID result;
  if (FAILED(CLSIDFromString(text, &result))) return CO_E_CLASSSTRING;
  *clsid = result;
  return S_OK;
}

// The answers given since the store last changed: an export asks for the same ProgID for every
// reference it writes, and a lookup in the store costs a key handle and two folded paths.
struct Answer {
  std::wstring name;  // as asked; key names ignore case, so another spelling is another entry
  HRESULT hr = S_OK;
  CLSID clsid{};
};

class Answers {
 public:
  bool Find(std::uint64_t generation, std::wstring_view name, HRESULT* hr, CLSID* clsid) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return false;
    for (const Answer& a : answers_) {
      if (a.name != name) continue;
      *hr = a.hr;
      *clsid = a.clsid;
      return true;
    }
    return false;
  }
  void Remember(std::uint64_t generation, std::wstring name, HRESULT hr, const CLSID& clsid) {
    std::lock_guard lock(mutex_);
    if (generation < generation_) return;  // read before a change another thread has seen
    if (generation != generation_) {
      answers_.clear();
      generation_ = generation;
    }
    if (answers_.size() >= kMostAnswers) answers_.clear();
    answers_.push_back(Answer{std::move(name), hr, clsid});
  }

 private:
  static constexpr std::size_t kMostAnswers = 64;
  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  std::vector<Answer> answers_;
};

Answers& Remembered() {
  static Answers* answers = new Answers;  // outlives every static destructor that may call
  return *answers;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR progid, LPCLSID clsid) {
  if (progid == nullptr || clsid == nullptr) return E_INVALIDARG;
  // A ProgID is one key name: a backslash would reach into another key, and "" is no name.
  const std::wstring_view name(progid);
  if (name.empty() || name.find(L'\\') != std::wstring_view::npos) return CO_E_CLASSSTRING;
  // Taken before the lookup: a change made during it gives a newer number, so that an answer
  // read from the older store is never handed out after the change.
  const std::uint64_t generation = SettingsStoreGeneration();
  HRESULT hr = S_OK;
  CLSID found{};
  if (!Remembered().Find(generation, name, &hr, &found)) {
    hr = LookUp(std::wstring(name), &found);
    Remembered().Remember(generation, std::wstring(name), hr, found);
  }
  if (SUCCEEDED(hr)) *clsid = found;
  return hr;
}
