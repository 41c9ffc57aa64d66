// Documents as the application and the host's command loop use them, including what other
// threads do: the live link sends input from its thread and brackets its own resource loads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/host/dbapserv.h"
#include "platform/host/docman.h"

namespace {

HINSTANCE Module(std::uintptr_t n) {
  return reinterpret_cast<HINSTANCE>(n);
}

TEST(Documents, CurrentDocumentWorkingDatabaseAndClosing) {
  AcApDocManager* docs = acDocManagerPtr();
  AcApDocument* a = docs->Add(std::make_unique<AcDbDatabase>(), L"/tmp/a.dxf");
  AcApDocument* b = docs->Add(std::make_unique<AcDbDatabase>(), L"");
  EXPECT_EQ(docs->curDocument(), b);
  EXPECT_EQ(acdbHostApplicationServices()->workingDatabase(), b->database());
  docs->SetCurrent(a);
  EXPECT_EQ(acdbHostApplicationServices()->workingDatabase(), a->database());
  EXPECT_STREQ(a->fileName(), L"/tmp/a.dxf");
  // Closing the current drawing makes the last opened one current.
  docs->Close(a);
  EXPECT_EQ(docs->curDocument(), b);
  EXPECT_EQ(docs->documentCount(), 1);
  docs->Close(b);
  EXPECT_EQ(docs->curDocument(), nullptr);
  EXPECT_EQ(acdbHostApplicationServices()->workingDatabase(), nullptr);
}

TEST(Documents, SentInputAndCommandsDecideQuiescence) {
  AcApDocManager* docs = acDocManagerPtr();
  std::atomic<int> wakes{0};
  docs->SetWakeUp([&wakes] { ++wakes; });
  AcApDocument* doc = docs->Add(std::make_unique<AcDbDatabase>(), L"");
  EXPECT_TRUE(doc->isQuiescent());
  doc->BeginCommand();
  doc->BeginCommand();  // acedCommand inside a command
  doc->EndCommand();
  EXPECT_FALSE(doc->isQuiescent());
  doc->EndCommand();
  EXPECT_TRUE(doc->isQuiescent());
  // The live link's thread sends the import while the host waits.
  std::thread link([&] {
    EXPECT_EQ(docs->sendStringToExecute(doc, L"vanta\n_import2\n"), Acad::eOk);
    EXPECT_EQ(docs->sendStringToExecute(nullptr, L"x"), Acad::eInvalidInput);
  });
  link.join();
  EXPECT_EQ(wakes.load(), 1);
  EXPECT_FALSE(doc->isQuiescent());
  EXPECT_EQ(doc->TakeSentInput(), L"vanta\n_import2\n");
  EXPECT_TRUE(doc->isQuiescent());
  docs->Close(doc);
  docs->SetWakeUp(nullptr);
}

TEST(Documents, ResourceModulesNestPerThread) {
  AcApDocManager* docs = acDocManagerPtr();
  EXPECT_EQ(docs->CurrentResourceHandle(), nullptr);
  docs->pushResourceHandle(Module(0x1000));
  docs->pushResourceHandle(Module(0x2000));
  std::thread other([docs] {
    EXPECT_EQ(docs->CurrentResourceHandle(), nullptr);  // its own stack
    docs->pushResourceHandle(Module(0x3000));
    EXPECT_EQ(docs->CurrentResourceHandle(), Module(0x3000));
    docs->popResourceHandle();
    EXPECT_EQ(docs->ResourceDepth(), 0u);
  });
  other.join();
  EXPECT_EQ(docs->CurrentResourceHandle(), Module(0x2000));
  docs->popResourceHandle();
  EXPECT_EQ(docs->CurrentResourceHandle(), Module(0x1000));
  docs->popResourceHandle();
  docs->popResourceHandle();  // one pop too many: harmless, as the balance check reports it
  EXPECT_EQ(docs->ResourceDepth(), 0u);
}

}  // namespace
