// Loading and unloading application libraries: the messages an application receives and their
// order, its command group, and the host's refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host/arxapp.h"
#include "platform/win/codepage.h"

namespace sheetwise::host {
namespace {

namespace fs = std::filesystem;

struct LogFile {
  fs::path path =
      fs::temp_directory_path() / ("sw_test_app_" + std::to_string(::getpid()) + ".log");
  LogFile() {
    fs::remove(path);
    ::setenv("SW_TEST_APP_LOG", path.c_str(), 1);
  }
  ~LogFile() {
    ::unsetenv("SW_TEST_APP_LOG");
    fs::remove(path);
  }
  std::string Lines() const {
    std::ifstream in(path);
    std::string all, line;
    while (std::getline(in, line)) all += line + " ";
    return all;
  }
};

TEST(AppLoader, MessagesReachTheApplicationInHostOrder) {
  LogFile log;
  AppLoader loader;
  std::wstring error;
  const std::wstring app = Utf8ToWide(SW_TEST_APP);
  ASSERT_TRUE(loader.Load(app, 2, &error)) << WideToUtf8(error);
  EXPECT_EQ(log.Lines(), "attach init loaddwg loaddwg ");
  // Its commands are registered, and it asked to be unloadable and MDI-aware.
  AcEdCommand* hello = acedRegCmds()->lookupCmd(L"hallo");
  ASSERT_NE(hello, nullptr);
  hello->functionAddr()();
  EXPECT_FALSE(loader.Load(app, 0, &error));  // once only
  EXPECT_NE(error.find(L"already loaded"), std::wstring::npos);
  loader.Broadcast(AcRx::kUnloadDwgMsg);
  ASSERT_TRUE(loader.Unload(fs::path(app).filename().wstring(), &error)) << WideToUtf8(error);
  EXPECT_EQ(log.Lines(), "attach init loaddwg loaddwg command hello unloaddwg unload detach ");
  // The whole group went in one call.
  EXPECT_EQ(acedRegCmds()->lookupCmd(L"hello"), nullptr);
  EXPECT_EQ(acedRegCmds()->lookupCmd(L"probe"), nullptr);
  EXPECT_FALSE(loader.Unload(app, &error));
  // Loaded again: registered again.
  ASSERT_TRUE(loader.Load(app, 0, &error));
  EXPECT_NE(acedRegCmds()->lookupCmd(L"probe"), nullptr);
  loader.UnloadAll();
  EXPECT_EQ(acedRegCmds()->lookupCmd(L"probe"), nullptr);
  EXPECT_TRUE(loader.Loaded().empty());
}

TEST(AppLoader, RefusalsSayWhy) {
  LogFile log;
  AppLoader loader;
  std::wstring error;
  EXPECT_FALSE(loader.Load(L"/nonexistent/app.arx", 0, &error));
  EXPECT_NE(error.find(L"Unable to load /nonexistent/app.arx"), std::wstring::npos);
  EXPECT_FALSE(loader.Load(Utf8ToWide(SW_TEST_APP_OLD), 0, &error));
  EXPECT_NE(error.find(L"another release"), std::wstring::npos) << WideToUtf8(error);
  ::setenv("SW_TEST_APP_REFUSE", "1", 1);
  EXPECT_FALSE(loader.Load(Utf8ToWide(SW_TEST_APP), 0, &error));
  ::unsetenv("SW_TEST_APP_REFUSE");
  EXPECT_NE(error.find(L"refused"), std::wstring::npos);
  EXPECT_EQ(log.Lines(), "");  // no message reached an application that did not load
  EXPECT_TRUE(loader.Loaded().empty());
}

TEST(AppLoader, MappedAheadStartsAtLoadAndTellsItsRefusalThen) {
  LogFile log;
  std::wstring error;
  const std::wstring app = Utf8ToWide(SW_TEST_APP);
  {
    AppLoader loader;
    loader.Map(app);
    loader.Map(app);  // once is enough
    EXPECT_EQ(log.Lines(), "attach ");
    EXPECT_TRUE(loader.Loaded().empty());  // attached, not started
    ASSERT_TRUE(loader.Load(app, 1, &error)) << WideToUtf8(error);
    EXPECT_EQ(log.Lines(), "attach init loaddwg ");
    loader.UnloadAll();
    EXPECT_EQ(log.Lines(), "attach init loaddwg unload detach ");
  }
  {
    // Never started (the drawing could not be opened): let go at the end, without messages.
    LogFile again;
    AppLoader loader;
    loader.Map(app);
    loader.UnloadAll();
    EXPECT_EQ(again.Lines(), "attach detach ");
    ASSERT_TRUE(loader.Load(app, 0, &error)) << WideToUtf8(error);  // loads afresh later
    loader.UnloadAll();
  }
  // A refusal found ahead is told by the Load, once; the next Load tries again.
  AppLoader loader;
  loader.Map(Utf8ToWide(SW_TEST_APP_OLD));
  EXPECT_FALSE(loader.Load(Utf8ToWide(SW_TEST_APP_OLD), 0, &error));
  EXPECT_NE(error.find(L"another release"), std::wstring::npos) << WideToUtf8(error);
  error.clear();
  EXPECT_FALSE(loader.Load(Utf8ToWide(SW_TEST_APP_OLD), 0, &error));
  EXPECT_NE(error.find(L"another release"), std::wstring::npos) << WideToUtf8(error);
  EXPECT_TRUE(loader.Loaded().empty());
}

}  // namespace
}  // namespace sheetwise::host
