#include "platform/host/console.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "platform/win/codepage.h"
#include "platform/win/msgqueue.h"
#include "platform/win/msgqueue_internal.h"

namespace sheetwise::host {
namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) {
  g_interrupted = true;
}

void Print(const std::wstring& text) {
  acutPrintf(L"%ls", text.c_str());
}

void DispatchPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = &OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a waiting read returns
  ::sigaction(SIGINT, &sa, nullptr);
}

bool TakeInterrupt() {
  return g_interrupted.exchange(false);
}

TerminalInput::TerminalInput(int fd, std::function<std::optional<std::wstring>()> idle,
                             bool keep_interrupts)
    : fd_(fd), idle_(std::move(idle)), keep_interrupts_(keep_interrupts) {
  win_internal::EnsureMessageQueue();
}

TerminalInput::~TerminalInput() = default;

std::optional<std::wstring> TerminalInput::ReadLine(const std::wstring&) {
  std::fflush(stdout);
  if (!keep_interrupts_) TakeInterrupt();
  for (;;) {
    if (std::size_t nl = pending_.find('\n'); nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Utf8ToWide(line);
    }
    if (eof_) {
      if (pending_.empty()) return std::nullopt;
      std::string line;
      line.swap(pending_);
      return Utf8ToWide(line);
    }
    if (TakeInterrupt()) {
      pending_.clear();
      if (PromptEcho()) Print(L"*Cancel*\n");
      return std::wstring(L"\x03");
    }
    if (idle_) {
      if (std::optional<std::wstring> line = idle_()) {
        if (PromptEcho()) Print(*line + L"\n");  // input the host made shows as typed
        return line;
      }
    }
    // A second at most, so that idle work (sent input, files) is seen while nothing is typed.
    const DWORD woke = win_internal::MsgWaitForFdAndMessages(fd_, 250, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      char buf[4096];
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0)
        pending_.append(buf, static_cast<std::size_t>(n));
      else if (n == 0 || errno != EINTR)
        eof_ = true;
    } else if (woke == WAIT_OBJECT_0 + 1) {
      DispatchPending();
    } else if (woke == WAIT_FAILED) {
      eof_ = true;
    }
  }
}

bool ScriptInput::Open(const std::filesystem::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path.string() + ": cannot read the script: " + std::strerror(errno);
    return false;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(Utf8ToWide(line));
  }
  return true;
}

std::optional<std::wstring> ScriptInput::ReadLine(const std::wstring&) {
  if (between_) between_();
  if (lines_.empty()) {
    Print(L"\n");
    return std::nullopt;
  }
  std::wstring line = std::move(lines_.front());
  lines_.pop_front();
  Print(line + L"\n");
  return line;
}

void HostInput::Queue(std::wstring_view text) {
  while (!text.empty()) {
    const std::size_t nl = text.find(L'\n');
    queued_.emplace_back(text.substr(0, nl));
    if (nl == std::wstring_view::npos) break;
    text.remove_prefix(nl + 1);
  }
}

std::optional<std::wstring> HostInput::PopQueued() {
  if (queued_.empty()) return std::nullopt;
  std::wstring line = std::move(queued_.front());
  queued_.pop_front();
  return line;
}

namespace {
CommandRunner& Runner() {
  static CommandRunner runner;
  return runner;
}
}  // namespace

void SetCommandRunner(CommandRunner runner) {
  Runner() = std::move(runner);
}

int RunCommandWords(std::vector<std::wstring> words) {
  if (!Runner() || words.empty()) return RTERROR;
  return Runner()(std::move(words));
}

void HostInput::QueueFront(const std::vector<std::wstring>& lines) {
  queued_.insert(queued_.begin(), lines.begin(), lines.end());
}

std::optional<std::wstring> HostInput::ReadLine(const std::wstring& prompt) {
  if (!queued_.empty()) {
    std::wstring line = std::move(queued_.front());
    queued_.pop_front();
    if (PromptEcho()) Print(line + L"\n");
    return line;
  }
  if (peeked_ || peeked_end_) {
    // The source echoed it when it was read ahead.
    std::optional<std::wstring> line = std::move(peeked_);
    peeked_.reset();
    peeked_end_ = false;
    return line;
  }
  return source_ ? source_->ReadLine(prompt) : std::nullopt;
}

std::optional<std::wstring> HostInput::PeekLine() {
  if (!queued_.empty()) return queued_.front();
  if (!peeked_ && !peeked_end_) {
    peeked_ = source_ ? source_->ReadLine(L"") : std::nullopt;
    peeked_end_ = !peeked_;
  }
  return peeked_;
}

std::optional<std::string> HostLineSource::Peek() {
  std::optional<std::wstring> line = input_->PeekLine();
  if (!line) return std::nullopt;
  return WideToUtf8(*line);
}

std::optional<std::string> HostLineSource::Take() {
  std::optional<std::wstring> line = input_->ReadLine(L"");
  if (!line) return std::nullopt;
  return WideToUtf8(*line);
}

}  // namespace sheetwise::host

int acedCommand(int rtype, ...) {
  std::vector<std::wstring> words;
  va_list args;
  va_start(args, rtype);
  bool bad = false;
  for (int type = rtype; type != 0 && type != RTNONE; type = va_arg(args, int)) {
    switch (type) {
      case RTSTR: {
        const ACHAR* s = va_arg(args, const ACHAR*);
        words.emplace_back(s ? s : L"");
        break;
      }
      case RTSHORT:
        words.push_back(std::to_wstring(va_arg(args, int)));
        break;
      case RTLONG:
        words.push_back(std::to_wstring(va_arg(args, long)));
        break;
      case RTREAL:
        words.push_back(std::to_wstring(va_arg(args, double)));
        break;
      default:
        bad = true;
    }
    if (bad) break;
  }
  va_end(args);
  if (bad) return RTERROR;
  return sheetwise::host::RunCommandWords(std::move(words));
}
