#include "platform/host/docman.h"

#include <algorithm>

#include "platform/host/dbapserv.h"

namespace {

// Each thread brackets its own resource loads.
thread_local std::vector<HINSTANCE> t_resources;

}  // namespace

AcApDocument::AcApDocument(std::unique_ptr<AcDbDatabase> db, std::wstring file)
    : db_(std::move(db)), file_(std::move(file)) {}

bool AcApDocument::isQuiescent() const {
  return commands_ == 0 && !HasSentInput();
}

std::wstring AcApDocument::TakeSentInput() {
  std::lock_guard<std::mutex> lock(sent_mutex_);
  std::wstring out;
  out.swap(sent_);
  return out;
}

bool AcApDocument::HasSentInput() const {
  std::lock_guard<std::mutex> lock(sent_mutex_);
  return !sent_.empty();
}

Acad::ErrorStatus AcApDocManager::sendStringToExecute(AcApDocument* doc, const ACHAR* text, bool,
                                                      bool, bool) {
  if (doc == nullptr || text == nullptr) return Acad::eInvalidInput;
  // Documents are only added and closed on the main thread; a sender elsewhere names one that
  // it got from curDocument, which stays valid while it is open.
  {
    std::lock_guard<std::mutex> lock(doc->sent_mutex_);
    doc->sent_ += text;
  }
  if (wake_up_) wake_up_();
  return Acad::eOk;
}

void AcApDocManager::pushResourceHandle(HINSTANCE module) {
  t_resources.push_back(module);
}

void AcApDocManager::popResourceHandle() {
  if (!t_resources.empty()) t_resources.pop_back();
}

HINSTANCE AcApDocManager::CurrentResourceHandle() const {
  return t_resources.empty() ? nullptr : t_resources.back();
}

std::size_t AcApDocManager::ResourceDepth() const {
  return t_resources.size();
}

AcApDocument* AcApDocManager::Add(std::unique_ptr<AcDbDatabase> db, std::wstring file) {
  docs_.push_back(std::make_unique<AcApDocument>(std::move(db), std::move(file)));
  SetCurrent(docs_.back().get());
  return current_;
}

void AcApDocManager::Close(AcApDocument* doc) {
  auto it =
      std::find_if(docs_.begin(), docs_.end(), [doc](const auto& d) { return d.get() == doc; });
  if (it == docs_.end()) return;
  const bool was_current = current_ == doc;
  docs_.erase(it);
  if (was_current) SetCurrent(docs_.empty() ? nullptr : docs_.back().get());
}

void AcApDocManager::SetCurrent(AcApDocument* doc) {
  current_ = doc;
  acdbHostApplicationServices()->setWorkingDatabase(doc ? doc->database() : nullptr);
}

std::vector<AcApDocument*> AcApDocManager::Documents() const {
  std::vector<AcApDocument*> out;
  for (const auto& d : docs_) out.push_back(d.get());
  return out;
}

AcApDocManager* acDocManagerPtr() {
  static AcApDocManager manager;
  return &manager;
}
