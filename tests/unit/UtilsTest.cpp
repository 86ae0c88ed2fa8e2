#include <gtest/gtest.h>

#include <objbase.h>

#include "ComSupport.h"
#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzUtils.h"

namespace {

bool ShutdownPrivilegeEnabled() {
    qz::UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
    LUID shutdown{};
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &shutdown);
    PRIVILEGE_SET query{1, PRIVILEGE_SET_ALL_NECESSARY, {{shutdown, 0}}};
    BOOL enabled = FALSE;
    return PrivilegeCheck(token.Get(), &query, &enabled) && enabled;
}

void CopyHelper(const std::string& name, const std::string& destination) {
    ASSERT_TRUE(CopyFileA(test::HelperProgram(name).c_str(), destination.c_str(), FALSE)) << destination;
}

}  // namespace

// Wine simulates the restart: the deletions recorded for the next boot are carried out
// while this process keeps running.
TEST(Utils, RestartEnablesTheShutdownPrivilegeAndRunsTheBootDeletions) {
    test::TempFolder temp("rs");
    std::string path = temp.Write("in use.txt");
    DeleteFileAtReboot(path);
    ASSERT_TRUE(test::PathExists(path));
    EXPECT_TRUE(RestartWindows(false));
    EXPECT_TRUE(ShutdownPrivilegeEnabled());
    EXPECT_TRUE(test::WaitUntil([&] { return !test::PathExists(path); }, 30000));
}

class UtilsCom : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    test::TempFolder temp_{"com"};
};

// Successful unregistrations are checked through the removal action (ComFontsTest).
TEST_F(UtilsCom, FailuresAreReported) {
    std::string dll = temp_ / "never registered.dll";
    ASSERT_TRUE(CopyFileA((test::BinFolder() + "comserver.dll").c_str(), dll.c_str(), FALSE));
    EXPECT_FALSE(UnregisterComFile(dll));  // the server fails, and the file is no type library
    EXPECT_FALSE(UnregisterTypeLibrary(temp_.Write("not a library.tlb", "plain text")));
    EXPECT_FALSE(UnregisterComFile(temp_ / "missing.dll"));
}

// A program "App.exe" beside the folder "App Dir" would be started instead of the server
// if the path were not quoted.
TEST_F(UtilsCom, LocalServerIsStartedWithUnregServerUnderItsQuotedPath) {
    ForceFolders(temp_ / "App Dir");
    std::string server = temp_ / "App Dir\\server.exe";
    CopyHelper("outprocserver", server);
    CopyHelper("outprocserver", temp_ / "App.exe");
    test::ClearOutProcServerMark("server.exe");
    test::ClearOutProcServerMark("App.exe");

    EXPECT_TRUE(UnregisterServerFile(server));
    EXPECT_TRUE(test::WaitUntil([] { return test::OutProcServerMark("server.exe") == "unregistered"; }));
    EXPECT_EQ(test::OutProcServerMark("App.exe"), "");
    // Only an .exe is started.
    std::string renamed = temp_ / "App Dir\\server.bin";
    CopyHelper("outprocserver", renamed);
    EXPECT_FALSE(UnregisterServerFile(renamed));
}

namespace {

std::vector<std::string> ScriptsIn(const std::string& folder) {
    std::vector<std::string> scripts;
    WIN32_FIND_DATAA data;
    qz::UniqueFind search(FindFirstFileA((folder + "*.bat").c_str(), &data));
    if (search)
        do scripts.push_back(folder + data.cFileName);
        while (FindNextFileA(search.Get(), &data));
    return scripts;
}

// Installs a copy of selfremove.exe as folder\uninst.exe and starts it with the arguments.
std::string StartUninstaller(const std::string& folder, const std::string& arguments,
                             test::ChildProcess& process) {
    ForceFolders(folder);
    std::string exe = folder + "\\uninst.exe";
    CopyHelper("selfremove", exe);
    EXPECT_TRUE(process.Start("\"" + exe + "\" " + arguments));
    return exe;
}

}  // namespace

// The application folder's name holds blanks, a "%" pair that the command interpreter
// would expand, and a character outside ASCII: the script must quote, escape and convert
// it, or the folder stays.
TEST(Utils, SelfRemovalScriptDeletesTheExeItsFolderAndItselfOnceTheProcessEnded) {
    test::TempFolder temp("sr");
    std::string folder = temp / "App %PATH% S\xE4ge";
    test::ChildProcess uninstaller;
    std::string exe = StartUninstaller(folder, "hold", uninstaller);
    ASSERT_TRUE(test::WaitUntil([&] { return test::PathExists(temp / "uninst.exe.scheduled"); }));
    std::vector<std::string> scripts = ScriptsIn(temp.Path());
    ASSERT_EQ(scripts.size(), 1u);
    std::string script = scripts[0];
    // The retries are bounded: sixty rounds of sixty tries.
    EXPECT_NE(test::ReadFileBytes(script).find("if not \"%QZROUND%\"==\"" + std::string(60, 'x') + "\" goto try"),
              std::string::npos);
    // While the program runs, the script keeps trying.
    Sleep(1500);
    EXPECT_TRUE(test::PathExists(exe));

    uninstaller.Terminate();
    DeleteFileA((temp / "uninst.exe.scheduled").c_str());
    EXPECT_TRUE(test::WaitUntil([&] { return !test::PathExists(script); }, 30000));
    EXPECT_FALSE(test::PathExists(exe));
    EXPECT_FALSE(test::PathExists(folder));
}

TEST(Utils, SelfRemovalCanKeepTheFolder) {
    test::TempFolder temp("sk");
    std::string folder = temp / "App";
    test::ChildProcess uninstaller;
    std::string exe = StartUninstaller(folder, "keep", uninstaller);
    ASSERT_EQ(uninstaller.Wait(20000), 0);
    EXPECT_TRUE(test::WaitUntil([&] { return !test::PathExists(exe) && ScriptsIn(temp.Path()).empty(); }, 30000));
    EXPECT_TRUE(FolderExists(folder));
}
