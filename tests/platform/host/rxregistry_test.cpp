// The runtime registry as an application uses it at load and unload: the command stack and the
// dynamic linker found in the system registry by their keys, command groups, name lookup.
#include <gtest/gtest.h>

#include "platform/host/rxregistry.h"

namespace {

void CommandA() {}
void CommandB() {}

TEST(RxRegistry, SystemRegistryHoldsTheCommandStackAndTheLinker) {
  AcRxDictionary* registry = acrxSysRegistry();
  ASSERT_NE(registry, nullptr);
  EXPECT_NE(AcEdCommandStack::cast(registry->at(ACRX_COMMAND_DOCK)), nullptr);
  EXPECT_NE(AcRxDynamicLinker::cast(registry->at(ACRX_DYNAMIC_LINKER)), nullptr);
  // The wrong class under a key casts to nothing, as an application checks before using it.
  EXPECT_EQ(AcEdCommandStack::cast(registry->at(ACRX_DYNAMIC_LINKER)), nullptr);
  EXPECT_EQ(registry->at(L"acad_registered_commands"), nullptr);  // keys keep their case
  EXPECT_TRUE(acrxBuildClassHierarchy());
  EXPECT_TRUE(AcEdCommandStack::desc()->isDerivedFrom(AcRxObject::desc()));
  EXPECT_FALSE(AcRxObject::desc()->isDerivedFrom(AcEdCommandStack::desc()));
  EXPECT_STREQ(AcEdCommandStack::desc()->name(), L"AcEdCommandStack");
}

TEST(RxRegistry, CommandGroupsAreAddedLookedUpAndRemovedWhole) {
  AcEdCommandStack* stack = acedRegCmds();
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(stack->addCommand(L"Sheetwise", L"vanta", L"vanta", ACRX_CMD_MODAL, &CommandA),
            Acad::eOk);
  EXPECT_EQ(stack->addCommand(L"Sheetwise", L"vatest", L"vaprobe", ACRX_CMD_MODAL, &CommandB),
            Acad::eOk);
  EXPECT_EQ(stack->addCommand(L"SHEETWISE", L"VANTA", L"x", ACRX_CMD_MODAL, &CommandB),
            Acad::eDuplicateKey);
  EXPECT_EQ(stack->addCommand(L"Sheetwise", L"", L"x", ACRX_CMD_MODAL, &CommandB),
            Acad::eInvalidInput);
  EXPECT_EQ(stack->addCommand(L"Sheetwise", L"x", L"x", ACRX_CMD_MODAL, nullptr),
            Acad::eInvalidInput);
  struct Case {
    const wchar_t* typed;
    void (*expected)();
  } cases[] = {{L"vanta", &CommandA},   {L"VANTA", &CommandA},   {L"_vanta", &CommandA},
               {L"._vanta", &CommandA}, {L"vaprobe", &CommandB}, {L"_vaprobe", nullptr},
               {L"_vatest", &CommandB}, {L"vant", nullptr},      {L"_", nullptr}};
  for (const Case& c : cases) {
    AcEdCommand* found = stack->lookupCmd(c.typed);
    EXPECT_EQ(found ? found->functionAddr() : nullptr, c.expected) << c.typed;
  }
  // A newer group with the same name comes first.
  EXPECT_EQ(stack->addCommand(L"Other", L"vanta", L"vanta", ACRX_CMD_MODAL, &CommandB), Acad::eOk);
  EXPECT_EQ(stack->lookupCmd(L"vanta")->functionAddr(), &CommandB);
  EXPECT_EQ(stack->removeGroup(L"Other"), Acad::eOk);
  EXPECT_EQ(stack->lookupCmd(L"vanta")->functionAddr(), &CommandA);
  // Unloading removes the whole group in one call.
  EXPECT_EQ(stack->removeGroup(L"sheetwise"), Acad::eOk);
  EXPECT_EQ(stack->lookupCmd(L"vanta"), nullptr);
  EXPECT_EQ(stack->lookupCmd(L"vatest"), nullptr);
  EXPECT_EQ(stack->removeGroup(L"Sheetwise"), Acad::eKeyNotFound);
}

TEST(RxRegistry, TheLinkerKnowsOnlyLoadedApplications) {
  AcRxDynamicLinker* linker = AcRxDynamicLinker::cast(acrxSysRegistry()->at(ACRX_DYNAMIC_LINKER));
  int packet = 0;
  EXPECT_FALSE(linker->registerAppMDIAware(&packet));
  EXPECT_FALSE(acrxUnlockApplication(&packet));
  linker->Add(&packet, L"/opt/sheetwise/sheetwise.arx");
  EXPECT_TRUE(acrxApplicationIsLocked(&packet));
  EXPECT_TRUE(acrxUnlockApplication(&packet));
  EXPECT_FALSE(acrxApplicationIsLocked(&packet));
  EXPECT_TRUE(linker->registerAppMDIAware(&packet));
  EXPECT_TRUE(linker->isAppMDIAware(&packet));
  linker->Remove(&packet);
  EXPECT_FALSE(linker->isAppMDIAware(&packet));
}

}  // namespace
