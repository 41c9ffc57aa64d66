// Tests of the archive built part by part, with parts deflated on a helper thread while more
// come: the archive is the one WriteZip makes of the same parts in the same order (which the
// zip writer's own tests hold to libzip's layout), whatever order they came in; refusals and an
// order that does not match are reported; a stream dropped half-way stops its helper.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/xlsx/zip_write.h"

namespace sheetwise::xlsx {
namespace {

constexpr std::time_t kTime = 315532800 + 86400;

// Sheet-like XML: compressible, but not trivially, and different for every seed.
std::string Part(std::size_t rows, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s = "<sheetData>";
  for (std::size_t r = 1; r <= rows; ++r)
    s += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" +
         std::to_string(rng() % 100000) + "</v></c></row>";
  return s + "</sheetData>";
}

TEST(ZipStream, SameArchiveWhateverOrderThePartsCameIn) {
  // Enough bytes for the helper thread to start, and small parts after the big ones.
  std::vector<std::string> names = {"[Content_Types].xml",
                                    "xl/workbook.xml",
                                    "xl/worksheets/sheet1.xml",
                                    "xl/worksheets/sheet2.xml",
                                    "xl/drawings/vmlDrawing1.vml",
                                    "xl/sharedStrings.xml",
                                    "docProps/app.xml"};
  std::vector<std::string> bytes = {"<Types/>",     "<workbook/>",  Part(20000, 1),
                                    Part(9000, 2),  Part(15000, 3), "",
                                    "<Properties/>"};
  std::vector<ZipEntry> entries;
  for (std::size_t i = 0; i < names.size(); ++i) entries.push_back({names[i], bytes[i]});
  std::string error;
  std::optional<std::string> expected = WriteZip(entries, 1, kTime, error);
  ASSERT_TRUE(expected) << error;

  for (unsigned seed = 0; seed < 4; ++seed) {
    SCOPED_TRACE("shuffle " + std::to_string(seed));
    std::vector<std::size_t> add(names.size());
    for (std::size_t i = 0; i < add.size(); ++i) add[i] = i;
    std::shuffle(add.begin(), add.end(), std::mt19937(seed));
    ZipStream zip(1, kTime);
    for (std::size_t i : add) {
      if (i % 2)
        zip.Add(names[i], bytes[i]);  // a copy the stream owns and frees once packed
      else
        zip.AddView(names[i], bytes[i]);
      EXPECT_TRUE(zip.Has(names[i]));
    }
    EXPECT_FALSE(zip.Has("xl/styles.xml"));
    std::vector<std::string_view> order(names.begin(), names.end());
    std::optional<std::string> archive = zip.Finish(order, error);
    ASSERT_TRUE(archive) << error;
    EXPECT_TRUE(*archive == *expected) << "bytes differ from WriteZip's";
  }
}

TEST(ZipStream, RefusesBadPartsAndAnOrderThatDoesNotMatch) {
  std::string error;
  {
    // A bad name among good parts, after the helper has started: named at Finish.
    ZipStream zip(1, kTime);
    zip.Add("a.xml", Part(20000, 1));
    zip.Add("b\xFF.xml", "x");
    zip.Add("c.xml", "<c/>");
    std::vector<std::string_view> order = {"a.xml", "c.xml"};
    EXPECT_FALSE(zip.Finish(order, error));
    EXPECT_NE(error.find("not a valid part name"), std::string::npos) << error;
  }
  {
    ZipStream zip(1, kTime);
    zip.Add("a.xml", "<a/>");
    zip.Add("a.xml", "<b/>");
    std::vector<std::string_view> order = {"a.xml"};
    error.clear();
    EXPECT_FALSE(zip.Finish(order, error));
    EXPECT_NE(error.find("added twice"), std::string::npos) << error;
  }
  {
    ZipStream zip(1, kTime);
    zip.Add("a.xml", "<a/>");
    zip.Add("b.xml", "<b/>");
    std::vector<std::string_view> missing = {"a.xml"};
    error.clear();
    EXPECT_FALSE(zip.Finish(missing, error));
    EXPECT_FALSE(error.empty());
  }
  {
    ZipStream zip(1, kTime);
    zip.Add("a.xml", "<a/>");
    std::vector<std::string_view> twice = {"a.xml", "a.xml"};
    error.clear();
    EXPECT_FALSE(zip.Finish(twice, error));
    EXPECT_FALSE(error.empty());
    ZipStream other(1, kTime);
    other.Add("a.xml", "<a/>");
    std::vector<std::string_view> unknown = {"a.xml", "z.xml"};
    error.clear();
    EXPECT_FALSE(other.Finish(unknown, error));
    EXPECT_NE(error.find("z.xml"), std::string::npos) << error;
  }
}

TEST(ZipStream, DroppedBeforeFinishStopsItsHelper) {
  // A save that fails half-way drops the stream with parts still waiting: no hang, no leak.
  for (int round = 0; round < 3; ++round) {
    ZipStream zip(1, kTime);
    for (unsigned i = 0; i < 8; ++i)
      zip.Add("xl/worksheets/sheet" + std::to_string(i) + ".xml", Part(8000, i));
  }
}

}  // namespace
}  // namespace sheetwise::xlsx
