// Loading and saving DXF drawings made by gen_drawing.py (1,000, 10,000 and 100,000 attributed
// block references), and the costs of editing and looking up. bench/compare_ezdxf.sh times
// ezdxf on the same files. BM_Save also proves the round trip: the program stops with an error
// when a drawing loaded and saved unchanged is not byte-identical to the file read (the
// 100,000-reference drawing is too slow to check in CI's tests). Files go to $DXF_BENCH_DIR
// (default: the temp folder's sheetwise-dxf-bench) and are reused; a size whose file cannot be made
// is skipped.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/dxf/document.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

fs::path BenchDir() {
  const char* env = std::getenv("DXF_BENCH_DIR");
  return env && *env ? fs::path(env) : fs::temp_directory_path() / "sheetwise-dxf-bench";
}

fs::path GenTool() {
  const char* env = std::getenv("SHEETWISE_SHARED");
  const fs::path shared =
      env && *env ? fs::path(env)
                  : fs::path(__FILE__).parent_path().parent_path().parent_path() / "shared";
  return shared / "tools" / "gen_drawing.py";
}

// The drawing with `refs` references, made once; empty when it cannot be made.
fs::path Drawing(int refs) {
  const fs::path file = BenchDir() / ("refs-" + std::to_string(refs) + ".dxf");
  std::error_code ec;
  if (fs::exists(file, ec) && fs::file_size(file, ec) > 0) return file;
  fs::create_directories(BenchDir(), ec);
  const std::string cmd = "python3 '" + GenTool().string() + "' --refs " + std::to_string(refs) +
                          " '" + file.string() + ".part' >/dev/null 2>&1 && mv '" + file.string() +
                          ".part' '" + file.string() + "'";
  if (std::system(cmd.c_str()) != 0 || !fs::exists(file, ec)) return {};
  return file;
}

void BM_Load(benchmark::State& state, fs::path file) {
  for (auto _ : state) {
    auto loaded = DxfDocument::Load(file);
    if (!loaded) state.SkipWithError(loaded.error->ToString().c_str());
    benchmark::DoNotOptimize(loaded.document.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(file)));
}

// What a user waits for: open the drawing, change one attribute, save it (atomic, with .bak).
void BM_LoadEditSave(benchmark::State& state, fs::path file) {
  const fs::path out = BenchDir() / ("out-" + file.filename().string());
  for (auto _ : state) {
    auto loaded = DxfDocument::Load(file);
    if (!loaded) {
      state.SkipWithError(loaded.error->ToString().c_str());
      break;
    }
    DxfDocument& doc = *loaded.document;
    for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
      if (e.Type() == "ATTRIB") {
        (void)doc.SetText(e.id(), e.Find(kCodeText), L"bench");
        break;
      }
    }
    if (auto failed = doc.SaveAs(out)) state.SkipWithError(failed->ToString().c_str());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(file)));
  std::error_code ec;
  fs::remove(out, ec);
  fs::remove(out.string() + ".bak", ec);
}

// The first offset where the two files differ (the shorter one's size when one is a prefix of
// the other); nullopt when they are identical.
std::optional<std::uint64_t> FirstDifference(const fs::path& a, const fs::path& b) {
  std::ifstream in_a(a, std::ios::binary), in_b(b, std::ios::binary);
  if (!in_a || !in_b) return 0;
  std::vector<char> buf_a(1 << 20), buf_b(1 << 20);
  std::uint64_t offset = 0;
  for (;;) {
    in_a.read(buf_a.data(), static_cast<std::streamsize>(buf_a.size()));
    in_b.read(buf_b.data(), static_cast<std::streamsize>(buf_b.size()));
    const auto got_a = static_cast<size_t>(in_a.gcount());
    const auto got_b = static_cast<size_t>(in_b.gcount());
    const size_t common = std::min(got_a, got_b);
    for (size_t i = 0; i < common; ++i) {
      if (buf_a[i] != buf_b[i]) return offset + i;
    }
    if (got_a != got_b) return offset + common;
    if (got_a == 0) return std::nullopt;
    offset += got_a;
  }
}

// Saving a loaded drawing unchanged (atomic, with .bak); then the saved file must be the file
// read, byte for byte, or the program stops: a benchmark of a wrong writer is no result.
void BM_Save(benchmark::State& state, fs::path file) {
  auto loaded = DxfDocument::Load(file);
  if (!loaded) {
    state.SkipWithError(loaded.error->ToString().c_str());
    return;
  }
  const fs::path out = BenchDir() / ("saved-" + file.filename().string());
  for (auto _ : state) {
    if (auto failed = loaded.document->SaveAs(out)) {
      state.SkipWithError(failed->ToString().c_str());
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(file)));
  std::error_code ec;
  if (fs::exists(out, ec)) {
    if (const auto at = FirstDifference(file, out)) {
      std::fprintf(stderr,
                   "error: %s: loaded and saved unchanged, the file differs from the one read at "
                   "offset %llu (sizes %llu and %llu); kept as %s\n",
                   file.string().c_str(), static_cast<unsigned long long>(*at),
                   static_cast<unsigned long long>(fs::file_size(file, ec)),
                   static_cast<unsigned long long>(fs::file_size(out, ec)), out.string().c_str());
      std::exit(EXIT_FAILURE);
    }
    // Once a file: the benchmark library calls this function several times.
    static std::vector<fs::path> reported;
    if (std::find(reported.begin(), reported.end(), file) == reported.end()) {
      reported.push_back(file);
      std::fprintf(stderr, "%s: saved unchanged, byte-identical (%llu bytes)\n",
                   file.filename().string().c_str(),
                   static_cast<unsigned long long>(fs::file_size(out, ec)));
    }
  }
  fs::remove(out, ec);
  fs::remove(out.string() + ".bak", ec);
}

// Reading every ATTRIB's value as text: what an export does after loading.
void BM_ReadAllAttribs(benchmark::State& state, fs::path file) {
  auto loaded = DxfDocument::Load(file);
  if (!loaded) {
    state.SkipWithError(loaded.error->ToString().c_str());
    return;
  }
  const DxfDocument& doc = *loaded.document;
  size_t count = 0;
  for (auto _ : state) {
    count = 0;
    for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
      if (e.Type() != "ATTRIB") continue;
      benchmark::DoNotOptimize(e.Text(e.Find(kCodeText)));
      ++count;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
}

// Editing every ATTRIB value: what an import of a whole worksheet does.
void BM_EditAllAttribs(benchmark::State& state, fs::path file) {
  for (auto _ : state) {
    state.PauseTiming();
    auto loaded = DxfDocument::Load(file);
    state.ResumeTiming();
    DxfDocument& doc = *loaded.document;
    for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
      if (e.Type() == "ATTRIB") (void)doc.SetText(e.id(), e.Find(kCodeText), L"imported");
    }
    benchmark::DoNotOptimize(doc.IsModified());
  }
}

void BM_FindByHandle(benchmark::State& state, fs::path file) {
  auto loaded = DxfDocument::Load(file);
  if (!loaded) {
    state.SkipWithError(loaded.error->ToString().c_str());
    return;
  }
  std::vector<Handle> handles;
  for (RecordId id = loaded.document->First(); id != kNoRecord; id = loaded.document->Next(id)) {
    if (Handle h = loaded.document->Get(id).handle()) handles.push_back(h);
  }
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(loaded.document->FindByHandle(handles[i]));
    if (++i == handles.size()) i = 0;
  }
}

// Registered at start-up, only for the sizes whose drawing exists or can be made.
const bool registered = [] {
  for (int refs : {1000, 10000, 100000}) {
    const fs::path file = Drawing(refs);
    if (file.empty()) continue;
    const std::string n = std::to_string(refs);
    benchmark::RegisterBenchmark(("BM_Load/" + n).c_str(), BM_Load, file)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Save/" + n).c_str(), BM_Save, file)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_LoadEditSave/" + n).c_str(), BM_LoadEditSave, file)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_ReadAllAttribs/" + n).c_str(), BM_ReadAllAttribs, file)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_EditAllAttribs/" + n).c_str(), BM_EditAllAttribs, file)
        ->Unit(benchmark::kMillisecond);
    if (refs == 10000) {
      benchmark::RegisterBenchmark("BM_FindByHandle/10000", BM_FindByHandle, file);
    }
  }
  return true;
}();

}  // namespace
