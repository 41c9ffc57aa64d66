// File dialogs read a path from the next line: default extension, overwrite prompt, files that
// must exist, and cancel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "platform/dialog/afxdlgs.h"
#include "platform/win/codepage.h"
#include "tests/platform/dialog/dialog_test_support.h"

namespace {

namespace fs = std::filesystem;
using dialog_test::DialogTest;

class FileDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    folder_ = fs::temp_directory_path() / ("sw_filedialog_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    std::ofstream(folder_ / "existing.ini") << "[Export]\n";
  }
  void TearDown() override {
    fs::remove_all(folder_);
    DialogTest::TearDown();
  }
  std::string At(const std::string& name) const { return (folder_ / name).string(); }
  std::wstring WAt(const std::string& name) const { return Utf8ToWide(At(name)); }
  fs::path folder_;
};

constexpr wchar_t kFilter[] = L"Settings files (*.ini)|*.ini|All files (*.*)|*.*||";

TEST_F(FileDialogTest, SaveAddsTheDefaultExtensionAndShowsTheProposedName) {
  Script({At("options")});
  CFileDialog save(FALSE, L"ini", L"Sheetwise.ini", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                   kFilter);
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), WAt("options.ini"));
  EXPECT_EQ(save.GetFileName(), L"options.ini");
  EXPECT_EQ(save.GetFileExt(), L"ini");
  EXPECT_EQ(save.GetFileTitle(), L"options");
  EXPECT_TRUE(
      Printed(L"File dialog \"Save As\", proposed name \"Sheetwise.ini\", types: "
              L"Settings files (*.ini), All files (*.*)\n"));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(FileDialogTest, ReplacingAFileIsAskedFirst) {
  Script({At("existing.ini"), "No", At("existing.ini"), "Yes"});
  CFileDialog save(FALSE, L"ini", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter);
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), WAt("existing.ini"));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0].text, L"existing.ini already exists.\nDo you want to replace it?");
  EXPECT_EQ(Boxes()[0].answer, IDNO);
  EXPECT_EQ(Boxes()[1].answer, IDYES);

  Script({At("existing.ini")});
  CFileDialog quiet(FALSE, L"ini", nullptr, OFN_HIDEREADONLY, kFilter);
  ASSERT_EQ(quiet.DoModal(), IDOK);
  EXPECT_EQ(Boxes().size(), 2u);  // no prompt without OFN_OVERWRITEPROMPT
}

TEST_F(FileDialogTest, OpenTakesAnExistingFileAndRefusesAMissingOne) {
  Script({At("existing")});
  CFileDialog open(TRUE, L"ini", nullptr, OFN_FILEMUSTEXIST, kFilter);
  ASSERT_EQ(open.DoModal(), IDOK);
  EXPECT_EQ(open.GetPathName(), WAt("existing.ini"));

  Script({At("missing.ini"), At("existing.ini")});
  CFileDialog missing(TRUE, L"ini", nullptr, OFN_FILEMUSTEXIST, kFilter);
  EXPECT_EQ(missing.DoModal(), IDCANCEL);  // from a script the refusal cancels
  EXPECT_EQ(missing.GetPathName(), L"");
  EXPECT_TRUE(Printed(L"File not found."));
  EXPECT_EQ(source_->Left(), 1u);

  Script({At("missing.ini"), At("existing.ini")}, /*interactive=*/true);
  CFileDialog asked(TRUE, L"ini", nullptr, OFN_FILEMUSTEXIST, kFilter);
  EXPECT_EQ(asked.DoModal(), IDOK);  // a person is asked again
  EXPECT_EQ(asked.GetPathName(), WAt("existing.ini"));
}

TEST_F(FileDialogTest, AnEmptyLineAFolderOrTheEndOfInputCancel) {
  Script({""});
  CFileDialog empty(FALSE, L"ini", nullptr, OFN_OVERWRITEPROMPT, kFilter);
  EXPECT_EQ(empty.DoModal(), IDCANCEL);

  Script({At("no_such_folder/x.ini")});
  CFileDialog nowhere(FALSE, L"ini", nullptr, OFN_OVERWRITEPROMPT, kFilter);
  EXPECT_EQ(nowhere.DoModal(), IDCANCEL);
  EXPECT_TRUE(Printed(L"Path does not exist."));

  Script({folder_.string()});
  CFileDialog folder(TRUE, nullptr, nullptr, 0, kFilter);
  EXPECT_EQ(folder.DoModal(), IDCANCEL);
  EXPECT_TRUE(Printed(L" is a folder."));

  Script({});
  CFileDialog end(TRUE, L"ini", nullptr, 0, kFilter);
  EXPECT_EQ(end.DoModal(), IDCANCEL);
  EXPECT_TRUE(Printed(L"Open: end of input, cancelled"));
}

}  // namespace
