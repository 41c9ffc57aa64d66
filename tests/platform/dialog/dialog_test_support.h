// What the dialog tests share: a script as the line source, the dialog output and message boxes
// recorded, and the test resource library as the current resource module.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog/afxwin.h"
#include "platform/dialog/console.h"
#include "platform/win/message.h"
#include "platform/win/module.h"

namespace dialog_test {

/// Lines given ahead, as a script gives them.
class ScriptSource : public LineSource {
 public:
  ScriptSource(std::vector<std::string> lines, bool interactive)
      : lines_(lines.begin(), lines.end()), interactive_(interactive) {}
  std::optional<std::string> Peek() override {
    if (lines_.empty()) return std::nullopt;
    return lines_.front();
  }
  std::optional<std::string> Take() override {
    if (lines_.empty()) return std::nullopt;
    std::string line = lines_.front();
    lines_.pop_front();
    return line;
  }
  bool Interactive() const override { return interactive_; }
  size_t Left() const { return lines_.size(); }

 private:
  std::deque<std::string> lines_;
  bool interactive_;
};

struct Box {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
  int answer;
};

/// Records every message box, then lets the console presenter answer it from the same lines.
class RecordingPresenter : public MessageBoxPresenter {
 public:
  RecordingPresenter() : console_(ConsoleMessageBoxPresenter(nullptr, std::tmpfile())) {}
  int Present(HWND owner, std::wstring_view text, std::wstring_view caption, UINT type) override {
    const int answer = console_->Present(owner, text, caption, type);
    boxes.push_back(Box{owner, std::wstring(text), std::wstring(caption), type, answer});
    return answer;
  }
  std::vector<Box> boxes;

 private:
  std::shared_ptr<MessageBoxPresenter> console_;
};

/// Each test: the resource library current, a script of lines, the output collected.
class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryW(L"" SW_DIALOG_RESOURCES);
    ASSERT_NE(module_, nullptr) << LoadLibraryErrorText();
    AfxSetResourceHandle(module_);
    presenter_ = std::make_shared<RecordingPresenter>();
    SetMessageBoxPresenter(presenter_);
    SetDialogOutput([this](std::wstring_view text) { output_ += text; });
    Script({});
  }
  void TearDown() override {
    SetDialogOutput(nullptr);
    SetMessageBoxPresenter(nullptr);
    SetMessageBoxLineSource(nullptr);
    AfxSetResourceHandle(nullptr);
    if (module_ != nullptr) FreeLibrary(module_);
  }
  /// The lines the next dialog reads.
  void Script(std::vector<std::string> lines, bool interactive = false) {
    source_ = std::make_shared<ScriptSource>(std::move(lines), interactive);
    SetMessageBoxLineSource(source_);
  }
  bool Printed(const std::wstring& text) const { return output_.find(text) != std::wstring::npos; }
  const std::vector<Box>& Boxes() const { return presenter_->boxes; }

  HMODULE module_ = nullptr;
  std::shared_ptr<RecordingPresenter> presenter_;
  std::shared_ptr<ScriptSource> source_;
  std::wstring output_;
};

}  // namespace dialog_test
