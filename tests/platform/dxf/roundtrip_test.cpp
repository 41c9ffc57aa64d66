// Loading and saving without changes gives back the very bytes read, for every real drawing of
// the corpus, every sample and a generated drawing.
#include <gtest/gtest.h>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using sheetwise::dxf::DxfDocument;
using sheetwise::dxf::Format;
namespace fs = std::filesystem;

// The first differing byte, for a readable failure.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) +
         ", first difference at byte " + std::to_string(i);
}

void ExpectRoundTrip(const fs::path& file) {
  SCOPED_TRACE(file.string());
  const std::string bytes = dxf_test::ReadBytes(file);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  EXPECT_TRUE(loaded.warnings.empty()) << loaded.warnings.front().ToString();
  const std::string out = loaded.document->Serialize();
  EXPECT_TRUE(out == bytes) << FirstDifference(out, bytes);
  EXPECT_FALSE(loaded.document->IsModified());
}

TEST(DxfRoundTrip, EveryCorpusDrawingWritesBackByteIdentical) {
  const auto files = dxf_test::DxfFiles(dxf_test::CorpusDir());
  if (files.empty()) GTEST_SKIP() << "no corpus at " SW_SHARED_DIR;
  for (const fs::path& f : files) ExpectRoundTrip(f);
}

TEST(DxfRoundTrip, EverySampleWritesBackByteIdentical) {
  const auto files = dxf_test::DxfFiles(dxf_test::SamplesDir());
  ASSERT_FALSE(files.empty()) << "samples/ has no drawings";
  for (const fs::path& f : files) ExpectRoundTrip(f);
}

TEST(DxfRoundTrip, GeneratedDrawingSavedThroughFileIsIdentical) {
  const fs::path tool = fs::path(SW_SHARED_DIR) / "tools" / "gen_drawing.py";
  if (!fs::exists(tool) || dxf_test::Run("command -v python3 >/dev/null") != 0) {
    GTEST_SKIP() << "gen_drawing.py or python3 absent";
  }
  dxf_test::TempDir dir;
  const fs::path file = dir.path() / "gen.dxf";
  ASSERT_EQ(dxf_test::Run("python3 '" + tool.string() + "' --refs 2000 '" + file.string() + "'"),
            0);
  const std::string bytes = dxf_test::ReadBytes(file);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  EXPECT_EQ(loaded.document->format(), Format::kAscii);
  EXPECT_EQ(loaded.document->Version(), "AC1024");
  const fs::path copy = dir.path() / "copy.dxf";
  ASSERT_FALSE(loaded.document->SaveAs(copy).has_value());
  EXPECT_TRUE(dxf_test::ReadBytes(copy) == bytes);
  EXPECT_FALSE(fs::exists(copy.string() + ".bak")) << "nothing to keep: copy.dxf was new";
}

}  // namespace
