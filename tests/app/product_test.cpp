#include "app/product.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "app/nvarxapp.h"
#include "platform/win/codepage.h"

namespace {

namespace fs = std::filesystem;

// An application whose library lives in a folder of the test.
class FolderApp : public CNvArxApp {
 public:
  explicit FolderApp(fs::path dir) : dir_(std::move(dir)) {}
  std::wstring GetModuleDir() const override { return Utf8ToWide(dir_.string()); }

 private:
  fs::path dir_;
};

TEST(ProductInfo, LinesLongerThanTwoCharactersReplaceTheDefaults) {
  const fs::path dir = fs::temp_directory_path() / ("sw_product_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  FolderApp app(dir);
  ResetProductInfo();
  // No file: the defaults, and the next call looks again.
  EXPECT_EQ(ProductName(), L"Sheetwise");
  EXPECT_EQ(ProductTitle(), L"Sheetwise 2014");
  EXPECT_EQ(VersionText(), L"18.2.11.0420");
  // Line 2 holds one letter and its line end (kept); CRLF counts as one line end, as text
  // mode reads it; line 8 has no line end at the end of the file.
  std::ofstream(dir / "Product.txt", std::ios::binary)
      << "Sheetwise Pro\r\nX\n\nhttps://example.org/sw\nAcme\n\xc3\x9atv\xc3\xa1r s.r.o.\na\n"
         "19.0.1";
  EXPECT_EQ(ProductName(), L"Sheetwise Pro");
  EXPECT_EQ(ProductTitle(), L"Sheetwise 2014");
  EXPECT_EQ(MenuGroupName(), L"VANTA");
  EXPECT_EQ(WebAddress(), L"https://example.org/sw");
  EXPECT_EQ(CompanyName(), L"Acme");
  EXPECT_EQ(CompanyLegalName(), L"\u00dAtv\u00e1r s.r.o.");
  EXPECT_EQ(YearText(), L"2011");
  EXPECT_EQ(VersionText(), L"19.0.1");
  EXPECT_FALSE(ProductId().empty());
  // Read once: a later change of the file is not seen.
  std::ofstream(dir / "Product.txt") << "Other\n";
  EXPECT_EQ(ProductName(), L"Sheetwise Pro");
  ResetProductInfo();
  fs::remove_all(dir);
}

}  // namespace
