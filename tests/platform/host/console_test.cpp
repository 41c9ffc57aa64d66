// The terminal's prompts and Ctrl-C: one that came while no prompt waited is dropped at the next
// prompt of a typing user, and answers the next prompt when serving until interrupted, which
// must end whenever the Ctrl-C comes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/host/console.h"

namespace sheetwise::host {
namespace {

TEST(TerminalInput, ACtrlCBeforeThePromptEndsServingButNotTyping) {
  InstallInterruptHandler();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "typed\n", 6), 6);
  {
    ::raise(SIGINT);  // came while a command ran
    TerminalInput typing(fds[0], nullptr);
    EXPECT_EQ(typing.ReadLine(L""), std::optional<std::wstring>(L"typed"));
  }
  ::close(fds[1]);  // without the Ctrl-C, the end of input
  ::raise(SIGINT);
  TerminalInput serving(fds[0], nullptr, true);
  EXPECT_EQ(serving.ReadLine(L""), std::optional<std::wstring>(L"\x03"));
  ::close(fds[0]);
  ::signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace sheetwise::host
