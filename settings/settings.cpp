#include "settings/settings.h"

#include <climits>
#include <cwctype>

#include "platform/win/registry.h"
#include "settings/settings_internal.h"

namespace sheetwise {
namespace settings_internal {

uint32_t Field::Get(const SettingsInfo& s) const {
  if (export_flag != nullptr) return s.*export_flag ? 1u : 0u;
  if (export_number != nullptr) return static_cast<uint32_t>(s.*export_number);
  if (import_flag != nullptr) return s.Import.*import_flag ? 1u : 0u;
  return static_cast<uint32_t>(s.Import.*import_number);
}

void Field::Set(SettingsInfo& s, uint32_t stored) const {
  if (export_flag != nullptr) {
    s.*export_flag = stored != 0;
  } else if (export_number != nullptr) {
    s.*export_number = static_cast<int32_t>(stored);
  } else if (import_flag != nullptr) {
    s.Import.*import_flag = stored != 0;
  } else {
    s.Import.*import_number = static_cast<int32_t>(stored);
  }
}

int32_t LeadingInteger(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > int64_t{INT32_MAX} + 1) magnitude = int64_t{INT32_MAX} + 1;  // saturated
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

}  // namespace settings_internal

namespace {

using settings_internal::Field;
using settings_internal::kCoordsValue;
using settings_internal::kExportFields;
using settings_internal::kImportFields;

// A stored value counts only as the REG_DWORD it was written as: a string, a QWORD or a DWORD of
// the wrong length from some other program leaves the field as it was.
bool QueryDword(HKEY key, const wchar_t* name, uint32_t& value) {
  DWORD data = 0, size = sizeof data, type = REG_NONE;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (type != REG_DWORD || size != sizeof data) return false;
  value = data;
  return true;
}

// Opens `sub_key` for writing, creating it when it cannot be opened; null when neither works.
HKEY OpenForWriting(const wchar_t* sub_key) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, sub_key, 0, KEY_WRITE, &key) == ERROR_SUCCESS) return key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, sub_key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) == ERROR_SUCCESS) {
    return key;
  }
  return nullptr;
}

template <size_t N>
bool WriteKey(const wchar_t* sub_key, const std::array<Field, N>& fields,
              const SettingsInfo& settings) {
  HKEY key = OpenForWriting(sub_key);
  if (key == nullptr) return false;
  for (const Field& field : fields) {
    const DWORD value = field.Get(settings);
    if (RegSetValueExW(key, field.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value) != ERROR_SUCCESS) {
      RegCloseKey(key);
      return false;
    }
  }
  return RegCloseKey(key) == ERROR_SUCCESS;
}

}  // namespace

void SetDefaults(SettingsInfo& settings) {
  settings = SettingsInfo{};
}

void LoadSettings(SettingsInfo& settings) {
  SetDefaults(settings);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kExportSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  uint32_t value = 0;
  for (const Field& field : kExportFields) {
    if (field.export_flag == &SettingsInfo::XCoord && QueryDword(key, kCoordsValue, value)) {
      settings.XCoord = settings.YCoord = settings.ZCoord = value != 0;
    }
    if (QueryDword(key, field.name, value)) field.Set(settings, value);
  }
  if (RegCloseKey(key) != ERROR_SUCCESS) return;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kImportSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  for (const Field& field : kImportFields) {
    if (QueryDword(key, field.name, value)) field.Set(settings, value);
  }
  RegCloseKey(key);
}

bool SaveSettings(const SettingsInfo& settings) {
  return WriteKey(kExportSettingsKey, kExportFields, settings) &&
         WriteKey(kImportSettingsKey, kImportFields, settings);
}

}  // namespace sheetwise
