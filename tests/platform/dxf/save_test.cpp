// Saving is atomic and keeps NAME.bak; binary drawings are read and written in their own layout;
// an independent reader (ezdxf) accepts what we write after edits.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/dxf/document.h"
#include "platform/dxf/document_internal.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

RecordId FirstAttrib(const DxfDocument& doc) {
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "ATTRIB") return e.id();
  }
  return kNoRecord;
}

size_t FileCount(const fs::path& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

TEST(DxfSave, SaveKeepsPreviousFileAsBak) {
  dxf_test::TempDir dir;
  const fs::path file = dir.path() / "site.dxf";
  const std::string original = dxf_test::ReadBytes(dxf_test::SamplesDir() / "attributes_r2010.dxf");
  dxf_test::WriteBytes(file, original);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded);
  DxfDocument& doc = *loaded.document;
  const RecordId a = FirstAttrib(doc);
  ASSERT_TRUE(doc.SetText(a, doc.Get(a).Find(kCodeText), L"saved"));
  ASSERT_FALSE(doc.Save().has_value());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(dxf_test::ReadBytes(dir.path() / "site.dxf.bak"), original);
  const std::string saved = dxf_test::ReadBytes(file);
  EXPECT_EQ(saved, doc.Serialize());
  EXPECT_NE(saved, original);
  EXPECT_EQ(FileCount(dir.path()), 2u) << "no temporary file left";
  // A second save replaces the .bak with the first save's file.
  ASSERT_TRUE(doc.SetText(a, doc.Get(a).Find(kCodeText), L"again"));
  ASSERT_FALSE(doc.Save().has_value());
  EXPECT_EQ(dxf_test::ReadBytes(dir.path() / "site.dxf.bak"), saved);
}

TEST(DxfSave, FailedSaveLeavesOldFileIntactAndNoTemporary) {
  dxf_test::TempDir dir;
  const fs::path file = dir.path() / "site.dxf";
  const std::string original = dxf_test::ReadBytes(dxf_test::SamplesDir() / "attributes_r2010.dxf");
  dxf_test::WriteBytes(file, original);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded);
  DxfDocument& doc = *loaded.document;
  const RecordId a = FirstAttrib(doc);
  ASSERT_TRUE(doc.SetText(a, doc.Get(a).Find(kCodeText), L"lost"));
  for (const char* step : {"open", "write", "sync", "backup", "rename"}) {
    SCOPED_TRACE(step);
    SetSaveFaultForTesting([step](std::string_view s) { return s == step ? ENOSPC : 0; });
    const auto failed = doc.Save();
    SetSaveFaultForTesting(nullptr);
    ASSERT_TRUE(failed.has_value());
    EXPECT_NE(failed->ToString().find("site.dxf: "), std::string::npos);
    EXPECT_NE(failed->ToString().find(std::strerror(ENOSPC)), std::string::npos);
    EXPECT_EQ(dxf_test::ReadBytes(file), original);
    EXPECT_TRUE(doc.IsModified());
    for (const auto& e : fs::directory_iterator(dir.path())) {
      EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
    }
  }
  const auto no_folder = doc.SaveAs(dir.path() / "missing" / "x.dxf");
  ASSERT_TRUE(no_folder.has_value());
  EXPECT_NE(no_folder->message.find("folder does not exist"), std::string::npos);
  auto parsed = DxfDocument::Parse(original, "mem.dxf");
  EXPECT_TRUE(parsed.document->Save().has_value()) << "a parsed document has no path";
}

TEST(DxfBinary, ReadEditedAndWrittenInBinaryLayout) {
  const fs::path file = dxf_test::SamplesDir() / "binary_r2010.dxf";
  const std::string original = dxf_test::ReadBytes(file);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.format(), Format::kBinary);
  EXPECT_EQ(doc.Version(), "AC1024");
  EXPECT_TRUE(doc.Serialize() == original);
  const RecordId a = FirstAttrib(doc);
  ASSERT_NE(a, kNoRecord);
  const Entity e = doc.Get(a);
  EXPECT_EQ(e.Text(e.Find(kCodeText)), L"B-0");
  EXPECT_EQ(e.Real(e.Find(kCodeY)), 1.0);
  EXPECT_EQ(e.Text(e.Find(kCodeY)), L"1.0");
  EXPECT_NE(e.handle(), 0u);
  EXPECT_EQ(doc.FindByHandle(e.handle()), a);
  ASSERT_TRUE(doc.SetText(a, e.Find(kCodeText), L"Größe"));
  ASSERT_TRUE(doc.SetReal(a, e.Find(kCodeX), 7.25));
  ASSERT_TRUE(doc.SetInteger(a, e.Find(kCodeFlags), 8));
  EXPECT_FALSE(doc.SetText(a, e.Find(kCodeText), std::wstring(L"nul\0inside", 10)));
  const std::string out = doc.Serialize();
  EXPECT_EQ(out.size(), original.size() + 4) << "'B-0' (3 bytes) became 'Größe' (7 bytes)";
  auto again = DxfDocument::Parse(out, "bin.dxf");
  ASSERT_TRUE(again) << again.error->ToString();
  const Entity b = again.document->Get(a);
  EXPECT_EQ(b.Text(b.Find(kCodeText)), L"Größe");
  EXPECT_EQ(b.Real(b.Find(kCodeX)), 7.25);
  EXPECT_EQ(b.Integer(b.Find(kCodeFlags)), 8);
}

TEST(DxfBinary, R12OneByteGroupCodesKeptOnEdit) {
  const fs::path file = dxf_test::SamplesDir() / "binary_r12.dxf";
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.format(), Format::kBinary);
  EXPECT_EQ(doc.VersionNumber(), 1009);
  const RecordId a = FirstAttrib(doc);
  ASSERT_NE(a, kNoRecord);
  EXPECT_EQ(doc.Get(a).Text(doc.Get(a).Find(kCodeText)), L"B12-0");
  // A one-byte code, and 1071 which needs the 255 escape in R12's layout.
  const NewTag tags[] = {NewTag::Text(1001, L"ACAD"), NewTag::Integer(1071, 123456)};
  ASSERT_TRUE(doc.InsertTags(a, doc.Get(a).TagCount(), tags));
  ASSERT_TRUE(doc.SetText(a, doc.Get(a).Find(kCodeText), L"edited"));
  const std::string out = doc.Serialize();
  EXPECT_NE(out.find(std::string("\xFF\x2F\x04\x40\xE2\x01\x00", 7)), std::string::npos)
      << "1071 as 255, code 0x042F, then the 32-bit value";
  auto again = DxfDocument::Parse(out, "r12.dxf");
  ASSERT_TRUE(again) << again.error->ToString();
  const Entity b = again.document->Get(a);
  EXPECT_EQ(b.Text(b.Find(kCodeText)), L"edited");
  EXPECT_EQ(b.Integer(b.Find(kCodeXDataInt32)), 123456);
}

// ezdxf's audit of a drawing we edited finds no more errors than in the drawing as read.
TEST(DxfSave, EzdxfAuditFindsNoNewErrorsAfterEdits) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "/usr/bin/python3 with ezdxf absent";
  dxf_test::TempDir dir;
  for (const char* name : {"attributes_r2010.dxf", "binary_r2010.dxf", "cp1251_r2000.dxf"}) {
    SCOPED_TRACE(name);
    auto loaded = DxfDocument::Load(dxf_test::SamplesDir() / name);
    ASSERT_TRUE(loaded);
    DxfDocument& doc = *loaded.document;
    const RecordId a = FirstAttrib(doc);
    ASSERT_TRUE(doc.SetText(a, doc.Get(a).Find(kCodeText), L"Prüfung ✓"));
    const RecordId insert = doc.Prev(a);
    const Handle h = doc.NewHandle();
    const NewTag line[] = {NewTag::Text(0, L"LINE"),
                           NewTag::HandleRef(5, h),
                           NewTag::HandleRef(330, doc.Get(insert).Owner()),
                           NewTag::Text(100, L"AcDbEntity"),
                           NewTag::Text(8, L"0"),
                           NewTag::Text(100, L"AcDbLine"),
                           NewTag::Real(10, 0),
                           NewTag::Real(20, 0),
                           NewTag::Real(30, 0),
                           NewTag::Real(11, 5),
                           NewTag::Real(21, 5),
                           NewTag::Real(31, 0)};
    ASSERT_NE(doc.InsertRecordBefore(insert, line), kNoRecord);
    const fs::path out = dir.path() / name;
    ASSERT_FALSE(doc.SaveAs(out).has_value());
    std::string report;
    const std::string script =
        "import sys, ezdxf\n"
        "def errors(p):\n"
        "    doc = ezdxf.readfile(p)\n"
        "    return len(doc.audit().errors), doc\n"
        "before, _ = errors(sys.argv[1])\n"
        "after, doc = errors(sys.argv[2])\n"
        "e = doc.entitydb.get(sys.argv[3])\n"
        "print(before, after, e.dxftype() if e else None)\n";
    dxf_test::WriteBytes(dir.path() / "audit.py", script);
    char hex[24];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(h));
    ASSERT_EQ(dxf_test::Run("/usr/bin/python3 '" + (dir.path() / "audit.py").string() + "' '" +
                                (dxf_test::SamplesDir() / name).string() + "' '" + out.string() +
                                "' " + hex + " 2>&1",
                            &report),
              0)
        << report;
    int before = -1, after = -1;
    char type[32] = {};
    ASSERT_EQ(std::sscanf(report.c_str(), "%d %d %31s", &before, &after, type), 3) << report;
    EXPECT_LE(after, before) << report;
    EXPECT_STREQ(type, "LINE");
  }
}

}  // namespace
