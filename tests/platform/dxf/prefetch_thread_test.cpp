// A drawing read ahead on a helper thread: Load takes exactly what reading the file itself would
// give (document or error), a file changed after the reading started is read again, a read-ahead
// nobody takes is dropped, and a missing file or a folder is not read ahead.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

// What a loaded drawing amounts to: its bytes saved again (every tag, in the file's own style),
// or the error that refused it.
std::string Outcome(LoadResult loaded, const fs::path& scratch) {
  if (!loaded) return "error: " + (loaded.error ? loaded.error->ToString() : std::string("?"));
  if (auto failed = loaded.document->SaveAs(scratch)) return "save failed: " + failed->ToString();
  return dxf_test::ReadBytes(scratch);
}

std::vector<fs::path> Drawings() {
  std::vector<fs::path> files = dxf_test::DxfFiles(dxf_test::SamplesDir());
  if (!dxf_test::CorpusDir().empty()) {
    const std::vector<fs::path> corpus = dxf_test::DxfFiles(dxf_test::CorpusDir());
    // A few of every writer is enough here: the read itself is the DXF tests' matter.
    for (std::size_t i = 0; i < corpus.size(); i += 7) files.push_back(corpus[i]);
  }
  return files;
}

TEST(PrefetchedLoad, LoadGivesWhatReadingTheFileGives) {
  dxf_test::TempDir dir;
  std::vector<fs::path> files = Drawings();
  // A damaged drawing: the error, with its line, is the same too.
  const fs::path damaged = dir.path() / "damaged.dxf";
  dxf_test::WriteBytes(damaged, "  0\nSECTION\n  2\nENTITIES\nnot a code\n");
  files.push_back(damaged);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::string direct = Outcome(DxfDocument::Load(file), dir.path() / "direct.dxf");
    std::string ahead;
    {
      PrefetchedLoad early(file);
      ahead = Outcome(DxfDocument::Load(file), dir.path() / "ahead.dxf");
      // Taken once: a second Load reads the file itself.
      EXPECT_EQ(Outcome(DxfDocument::Load(file), dir.path() / "again.dxf"), direct);
    }
    EXPECT_EQ(ahead, direct);
  }
}

TEST(PrefetchedLoad, AFileChangedAfterTheReadingStartedIsReadAgain) {
  dxf_test::TempDir dir;
  const fs::path source = dxf_test::SamplesDir() / "attributes_r2010.dxf";
  const fs::path other = dxf_test::SamplesDir() / "r12.dxf";
  const fs::path file = dir.path() / "site.dxf";
  dxf_test::WriteBytes(file, dxf_test::ReadBytes(source));
  const std::string expected = Outcome(DxfDocument::Load(other), dir.path() / "expected.dxf");

  PrefetchedLoad early(file);
  // Rewritten in place with another drawing, stamped with another time: whether the helper read
  // the old bytes, the new ones or a mix, Load must give the new drawing.
  dxf_test::WriteBytes(file, dxf_test::ReadBytes(other));
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(Outcome(DxfDocument::Load(file), dir.path() / "got.dxf"), expected);
}

TEST(PrefetchedLoad, UntakenOrNotARegularFileChangesNothing) {
  dxf_test::TempDir dir;
  const fs::path a = dir.path() / "a.dxf";
  const fs::path b = dir.path() / "b.dxf";
  dxf_test::WriteBytes(a, dxf_test::ReadBytes(dxf_test::SamplesDir() / "attributes_r2010.dxf"));
  dxf_test::WriteBytes(b, dxf_test::ReadBytes(dxf_test::SamplesDir() / "utf8_r2018.dxf"));
  const std::string a_direct = Outcome(DxfDocument::Load(a), dir.path() / "a1.dxf");
  const std::string b_direct = Outcome(DxfDocument::Load(b), dir.path() / "b1.dxf");
  {
    // Each Load takes its own file's reading, in any order; one nobody takes is waited for and
    // dropped.
    PrefetchedLoad early_a(a), early_b(b), unused(dxf_test::SamplesDir() / "r12.dxf");
    EXPECT_EQ(Outcome(DxfDocument::Load(b), dir.path() / "b2.dxf"), b_direct);
    EXPECT_EQ(Outcome(DxfDocument::Load(a), dir.path() / "a2.dxf"), a_direct);
  }
  // A missing file or a folder is not read ahead, and reports as it would without.
  for (const fs::path& odd : {dir.path() / "missing.dxf", dir.path()}) {
    const std::string direct = Outcome(DxfDocument::Load(odd), dir.path() / "odd1.dxf");
    PrefetchedLoad early(odd);
    EXPECT_EQ(Outcome(DxfDocument::Load(odd), dir.path() / "odd2.dxf"), direct);
  }
}

}  // namespace
