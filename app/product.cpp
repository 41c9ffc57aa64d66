#include "app/product.h"

#include <cstdio>

#include "app/nvarxapp.h"
#include "platform/win/codepage.h"

namespace {

struct ProductInfo {
  std::wstring fields[9] = {
      L"Sheetwise",
      L"Sheetwise 2014",
      L"VANTA",
      L"https://www.norvane.example",
      L"Norvane",
      L"Norvane Software s.r.o.",
      L"2011",
      L"18.2.11.0420",
      L"{6F1C2A9E-4B7D-4E52-9A30-58C1D7E2B4A6}",
  };
};

ProductInfo info;
bool file_read = false;

// One fgetws into a buffer of 256 characters from a file opened in text mode: up to 255
// characters or through the line end; a longer line is read in pieces, each counting as one of
// the nine lines. Text mode reads "\r\n" as "\n", so a CRLF file counts as a LF one.
bool ReadLine(std::FILE* file, std::wstring* line) {
  std::string bytes;
  std::size_t characters = 0;
  int c = EOF;
  while (characters < 255 && (c = std::fgetc(file)) != EOF) {
    if (c == '\r') {
      const int next = std::fgetc(file);
      if (next == '\n') {
        c = next;
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    bytes.push_back(static_cast<char>(c));
    if ((c & 0xC0) != 0x80) ++characters;
    if (c == '\n') break;
  }
  // The rest of a UTF-8 character cut at the limit belongs to this piece.
  if (c != '\n') {
    while ((c = std::fgetc(file)) != EOF && (c & 0xC0) == 0x80)
      bytes.push_back(static_cast<char>(c));
    if (c != EOF) std::ungetc(c, file);
  }
  if (bytes.empty()) return false;
  *line = Utf8ToWide(bytes);
  return true;
}

void EnsureRead() {
  if (file_read) return;
  CNvArxApp* app = NvGetCurrentApp();
  if (app == nullptr) return;
  const std::wstring path = app->GetModuleDir() + kPathSeparator + L"Product.txt";
  std::FILE* file = std::fopen(WideToUtf8(path).c_str(), "r");
  if (file == nullptr) return;
  for (std::wstring& field : info.fields) {
    std::wstring line;
    if (!ReadLine(file, &line)) break;
    if (line.size() > 2) {
      std::wstring kept;
      for (wchar_t ch : line)
        if (ch != L'\r' && ch != L'\n') kept.push_back(ch);
      field = kept;
    }
  }
  std::fclose(file);
  file_read = true;
}

std::wstring Field(int index) {
  EnsureRead();
  return info.fields[index];
}

}  // namespace

std::wstring ProductName() {
  return Field(0);
}
std::wstring ProductTitle() {
  return Field(1);
}
std::wstring MenuGroupName() {
  return Field(2);
}
std::wstring WebAddress() {
  return Field(3);
}
std::wstring CompanyName() {
  return Field(4);
}
std::wstring CompanyLegalName() {
  return Field(5);
}
std::wstring YearText() {
  return Field(6);
}
std::wstring VersionText() {
  return Field(7);
}
std::wstring ProductId() {
  return Field(8);
}

void ResetProductInfo() {
  info = ProductInfo();
  file_read = false;
}
