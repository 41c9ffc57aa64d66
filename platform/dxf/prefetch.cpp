// Reading a drawing ahead on a helper thread, so that the file's parse overlaps what the caller
// does meanwhile (opening the workbook of an import takes about as long).
#include <sys/stat.h>

#include <algorithm>
#include <future>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/dxf/document.h"
#include "platform/dxf/document_internal.h"
#include "platform/win/file_version.h"

namespace sheetwise::dxf {
namespace {

// The file's version when it is a regular file: reading a pipe or a device ahead would take its
// bytes from a later reader.
std::optional<win::FileVersion> RegularFile(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return win::FileVersion::Of(st);
}

}  // namespace

struct PrefetchedLoad::State {
  std::filesystem::path path;
  win::FileVersion version;  // the file when its reading started
  std::future<LoadResult> outcome;
  std::thread thread;
};

namespace {

std::mutex g_mutex;
// The prefetches no Load has claimed yet.
std::vector<std::shared_ptr<PrefetchedLoad::State>>& Unclaimed() {
  static auto* pending = new std::vector<std::shared_ptr<PrefetchedLoad::State>>;
  return *pending;
}

// Takes `state` out of the unclaimed ones, if a Load has not taken it already.
void Forget(const std::shared_ptr<PrefetchedLoad::State>& state) {
  std::lock_guard lock(g_mutex);
  auto& pending = Unclaimed();
  const auto at = std::find(pending.begin(), pending.end(), state);
  if (at != pending.end()) pending.erase(at);
}

}  // namespace

PrefetchedLoad::PrefetchedLoad(std::filesystem::path path) {
  const std::optional<win::FileVersion> version = RegularFile(path);
  if (!version) return;
  auto state = std::make_shared<State>();
  state->path = std::move(path);
  state->version = *version;
  std::packaged_task<LoadResult()> task(
      [state = state.get()] { return DxfDocument::ReadFile(state->path); });
  state->outcome = task.get_future();
  try {
    state->thread = std::thread(std::move(task));
  } catch (const std::system_error&) {
    return;  // no thread to spare: Load reads the file itself
  }
  state_ = state;  // joined by the destructor from now on
  try {
    std::lock_guard lock(g_mutex);
    Unclaimed().push_back(std::move(state));
  } catch (const std::bad_alloc&) {
    // Not to be found: Load reads the file itself.
  }
}

PrefetchedLoad::~PrefetchedLoad() {
  if (!state_) return;
  Forget(state_);
  state_->thread.join();
}

std::optional<LoadResult> TakePrefetched(const std::filesystem::path& path) {
  std::shared_ptr<PrefetchedLoad::State> found;
  {
    std::lock_guard lock(g_mutex);
    auto& pending = Unclaimed();
    const auto at = std::find_if(pending.begin(), pending.end(),
                                 [&](const auto& state) { return state->path == path; });
    if (at == pending.end()) return std::nullopt;
    found = *at;
    pending.erase(at);
  }
  LoadResult read = found->outcome.get();
  // Changed since: the bytes read may be a mix of the old file and the new.
  if (!(win::FileVersion::Of(path) == found->version)) return std::nullopt;
  return read;
}

}  // namespace sheetwise::dxf
