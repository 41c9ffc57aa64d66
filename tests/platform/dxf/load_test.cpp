// Loading owns the bytes it read: a document saved over its own source saves again, a source
// that another program truncates or rewrites in place changes nothing in the document, pipes
// and FIFOs read to their end, and files denser than the tag estimate grow the index.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

// Every ATTRIB's value, in file order.
std::vector<std::wstring> AttribValues(const DxfDocument& doc) {
  std::vector<std::wstring> values;
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "ATTRIB") values.push_back(e.Text(e.Find(kCodeText)));
  }
  return values;
}

RecordId NthAttrib(const DxfDocument& doc, size_t n) {
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "ATTRIB" && n-- == 0) return e.id();
  }
  return kNoRecord;
}

// The drawings to load: a sample, and a corpus drawing large enough (3.7 MB) that its bytes and
// tags live in the big blocks rather than on the heap.
std::vector<fs::path> Drawings() {
  std::vector<fs::path> files = {dxf_test::SamplesDir() / "attributes_r2010.dxf"};
  const fs::path big = dxf_test::CorpusDir() / "acad_AC1018_A_000217.dxf";
  if (!dxf_test::CorpusDir().empty() && fs::exists(big)) files.push_back(big);
  return files;
}

TEST(DxfLoad, SavedOverItsOwnSourceSavesAgainAndReadsItsValues) {
  for (const fs::path& source : Drawings()) {
    SCOPED_TRACE(source.filename().string());
    dxf_test::TempDir dir;
    const fs::path file = dir.path() / "site.dxf";
    const std::string original = dxf_test::ReadBytes(source);
    dxf_test::WriteBytes(file, original);
    auto loaded = DxfDocument::Load(file);
    ASSERT_TRUE(loaded);
    DxfDocument& doc = *loaded.document;
    std::vector<std::wstring> values = AttribValues(doc);
    ASSERT_GE(values.size(), 2u);

    const RecordId first = NthAttrib(doc, 0);
    ASSERT_TRUE(doc.SetText(first, doc.Get(first).Find(kCodeText), L"first save"));
    ASSERT_FALSE(doc.Save().has_value());
    values[0] = L"first save";
    // The file read is now site.dxf.bak; every value still reads as before.
    EXPECT_EQ(AttribValues(doc), values);
    const std::string saved_once = dxf_test::ReadBytes(file);
    EXPECT_EQ(dxf_test::ReadBytes(dir.path() / "site.dxf.bak"), original);

    const RecordId last = NthAttrib(doc, values.size() - 1);
    ASSERT_TRUE(doc.SetText(last, doc.Get(last).Find(kCodeText), L"second save"));
    ASSERT_FALSE(doc.Save().has_value());
    values.back() = L"second save";
    EXPECT_EQ(AttribValues(doc), values);
    EXPECT_EQ(dxf_test::ReadBytes(dir.path() / "site.dxf.bak"), saved_once);

    auto reloaded = DxfDocument::Load(file);
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(AttribValues(*reloaded.document), values);
    EXPECT_EQ(reloaded.document->Serialize(), doc.Serialize());
  }
}

TEST(DxfLoad, SourceTruncatedOrRewrittenInPlaceLeavesTheDocumentAsRead) {
  for (const fs::path& source : Drawings()) {
    SCOPED_TRACE(source.filename().string());
    dxf_test::TempDir dir;
    const fs::path file = dir.path() / "site.dxf";
    const std::string original = dxf_test::ReadBytes(source);
    dxf_test::WriteBytes(file, original);
    auto loaded = DxfDocument::Load(file);
    ASSERT_TRUE(loaded);
    DxfDocument& doc = *loaded.document;
    const std::vector<std::wstring> values = AttribValues(doc);

    // Another program cuts the file short in place (a mapping of it would fault with SIGBUS on
    // the next read), then writes other bytes into the same inode.
    ASSERT_EQ(::truncate(file.c_str(), 10), 0) << std::strerror(errno);
    EXPECT_EQ(AttribValues(doc), values);
    EXPECT_EQ(doc.Serialize(), original);
    const int fd = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string other(original.size(), 'X');
    ASSERT_EQ(::write(fd, other.data(), other.size()), static_cast<ssize_t>(other.size()));
    ::close(fd);
    EXPECT_EQ(AttribValues(doc), values);

    // Saving writes what was read, plus the edit.
    const RecordId first = NthAttrib(doc, 0);
    ASSERT_TRUE(doc.SetText(first, doc.Get(first).Find(kCodeText), L"kept"));
    ASSERT_FALSE(doc.Save().has_value());
    EXPECT_EQ(dxf_test::ReadBytes(dir.path() / "site.dxf.bak"), other);
    auto reloaded = DxfDocument::Load(file);
    ASSERT_TRUE(reloaded) << reloaded.error->ToString();
    std::vector<std::wstring> expected = values;
    expected[0] = L"kept";
    EXPECT_EQ(AttribValues(*reloaded.document), expected);
  }
}

TEST(DxfLoad, ReadsPipesToTheirEndAndDoesNotWaitForAbsentWriters) {
  const std::string bytes = dxf_test::ReadBytes(dxf_test::SamplesDir() / "attributes_r2010.dxf");
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  // The whole drawing fits the pipe's buffer, so it can be written before reading starts.
  ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20), static_cast<int>(bytes.size()));
  ASSERT_EQ(::write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(ends[1]);
  const fs::path pipe_path = "/proc/self/fd/" + std::to_string(ends[0]);
  auto from_pipe = DxfDocument::Load(pipe_path);
  ::close(ends[0]);
  ASSERT_TRUE(from_pipe) << from_pipe.error->ToString();
  EXPECT_EQ(from_pipe.document->Serialize(), bytes);
  EXPECT_FALSE(AttribValues(*from_pipe.document).empty());

  // A FIFO nobody writes to reads as empty instead of blocking the caller forever.
  dxf_test::TempDir dir;
  const fs::path fifo = dir.path() / "drawing.dxf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto empty = DxfDocument::Load(fifo);
  ASSERT_FALSE(empty);
  EXPECT_NE(empty.error->message.find("found end of file"), std::string::npos)
      << empty.error->ToString();
}

// Denser than any real drawing (4 bytes a tag, 8 a record): the index outgrows its estimate
// and moves from the heap into the big blocks while it is being read.
TEST(DxfLoad, DenseFileOutgrowsTheEstimateAndReadsWhole) {
  std::string bytes = "0\nSECTION\n2\nENTITIES\n";
  constexpr int kRecords = 300000;
  for (int i = 0; i < kRecords; ++i) bytes += i % 2 ? "0\nP\n8\n1\n" : "0\nQ\n8\n2\n";
  bytes += "0\nENDSEC\n0\nEOF\n";
  dxf_test::TempDir dir;
  const fs::path file = dir.path() / "dense.dxf";
  dxf_test::WriteBytes(file, bytes);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  const DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.RecordCount(), kRecords + 3u);
  int n = 0;
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    ASSERT_EQ(e.Type(), n % 2 ? "P" : "Q") << n;
    ASSERT_EQ(e.Integer(1), n % 2 ? 1 : 2) << n;
    ++n;
  }
  EXPECT_EQ(n, kRecords);
  EXPECT_EQ(doc.Serialize(), bytes);
}

// Numbers are checked as they are read, plain ones by a quick scan and the rest by the parser:
// both must accept and refuse the same values.
TEST(DxfLoad, NumbersAcceptedAndRefusedAlikeOnEveryPath) {
  struct Row {
    int code;
    const char* value;
    std::optional<double> expected;  // nullopt: refused
  };
  const Row rows[] = {
      {10, "1.5", 1.5},
      {10, "-0.25", -0.25},
      {10, "0", 0.0},
      {10, "123456789012345.5", 123456789012345.5},
      {10, "1234567890123456789.5", 1234567890123456789.5},  // long: the parser's
      {10, "1.0E+3", 1000.0},
      {10, "+2.5", 2.5},
      {10, " 3.5", 3.5},
      {10, "1.5.2", std::nullopt},
      {10, "1-2", std::nullopt},
      {10, "--1", std::nullopt},
      {10, "-", std::nullopt},
      {10, "", std::nullopt},
      {10, "1e999", std::nullopt},
      {10, "0x10", std::nullopt},
      {70, "42", 42.0},
      {70, "-7", -7.0},
      {70, "000012", 12.0},
      {70, "1234567890123456789", 1234567890123456789.0},
      {70, "1.5", std::nullopt},
      {70, "12a", std::nullopt},
      {70, "99999999999999999999", std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.code) + " '" + row.value + "'");
    const std::string bytes = "  0\nSECTION\n  2\nENTITIES\n  0\nLINE\n " +
                              std::to_string(row.code) + "\n" + row.value +
                              "\n  0\nENDSEC\n  0\nEOF\n";
    auto parsed = DxfDocument::Parse(bytes, "n.dxf");
    ASSERT_EQ(parsed.document != nullptr, row.expected.has_value())
        << (parsed.error ? parsed.error->ToString() : "accepted");
    if (!row.expected) {
      EXPECT_NE(parsed.error->message.find("value for group code"), std::string::npos);
      continue;
    }
    const DxfDocument& doc = *parsed.document;
    const Entity line = *doc.Records(*doc.FindSection("ENTITIES")).begin();
    EXPECT_EQ(line.Real(1), row.expected);
  }
}

}  // namespace

TEST(DxfLoad, RecordTypesAreAnsweredBeyondAnyNumberOfDistinctTypes) {
  // More distinct record types than the reader keeps (65,535): every one is still answered,
  // from the tags past that, and reading stays linear (a scan of the types for each record took
  // seconds here, and grows with the square of the records).
  constexpr int kTypes = 70000;
  std::string entities;
  for (int i = 0; i < kTypes; ++i) {
    char handle[16];
    std::snprintf(handle, sizeof handle, "%X", 0x100 + i);
    entities += "  0\n T" + std::to_string(i) + " \n  5\n" + handle + "\n";
  }
  const std::string bytes =
      "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$HANDSEED\n  5\nFFFFF\n"
      "  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n" +
      entities + "  0\nENDSEC\n  0\nEOF\n";
  auto r = DxfDocument::Parse(bytes, "types.dxf");
  ASSERT_TRUE(r) << r.error->ToString();
  for (int i : {0, 1, 65000, 65533, 65534, 65535, kTypes - 1}) {
    const RecordId id = r.document->FindByHandle(0x100 + i);
    ASSERT_NE(id, kNoRecord) << i;
    EXPECT_EQ(r.document->Get(id).Type(), "T" + std::to_string(i));
  }
  EXPECT_EQ(r.document->Get(r.document->FindByHandle(0x100)).Type(), "T0");
  EXPECT_EQ(r.document->Serialize(), bytes);
}
