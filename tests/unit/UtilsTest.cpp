#include <gtest/gtest.h>

#include <objbase.h>

#include "ComSupport.h"
#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzStrUtils.h"
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

TEST_F(UtilsCom, InProcessServerIsUnregisteredThroughItsExport) {
    std::string dll = temp_ / "My Server.dll";
    ASSERT_TRUE(CopyFileA((test::BinFolder() + "comserver.dll").c_str(), dll.c_str(), FALSE));
    ASSERT_TRUE(test::RegisterComServer(dll));
    ASSERT_EQ(test::ComServerMark("My Server.dll"), "registered");
    EXPECT_TRUE(UnregisterComFile(dll));
    EXPECT_EQ(test::ComServerMark("My Server.dll"), "");
    // Unregistering again fails in the server, and the file is no type library either.
    EXPECT_FALSE(UnregisterComFile(dll));
}

TEST_F(UtilsCom, TypeLibraryKeysGo) {
    std::string library = temp_ / "sample copy.tlb";
    ASSERT_TRUE(CopyFileA(test::SampleTypeLibrary().c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(test::RegisterTypeLibrary(library));
    ASSERT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, test::kSampleTypeLibKey));
    EXPECT_TRUE(UnregisterComFile(library));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, test::kSampleTypeLibKey));
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

std::string Oem(const std::string& text) {
    std::string oem(text.size(), '\0');
    CharToOemBuffA(text.c_str(), &oem[0], static_cast<DWORD>(text.size()));
    return oem;
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
// would expand, and a character outside ASCII.
TEST(Utils, SelfRemovalScriptDeletesTheExeItsFolderAndItselfOnceTheProcessEnded) {
    test::TempFolder temp("sr");
    std::string folder = temp / "App %PATH% S\xE4ge";
    test::ChildProcess uninstaller;
    std::string exe = StartUninstaller(folder, "hold", uninstaller);
    ASSERT_TRUE(test::WaitUntil([&] { return test::PathExists(temp / "uninst.exe.scheduled"); }));
    std::vector<std::string> scripts = ScriptsIn(temp.Path());
    ASSERT_EQ(scripts.size(), 1u);
    std::string script = scripts[0];
    EXPECT_EQ(ExtractFileName(script).size(), 12u);
    auto quoted = [](const std::string& path) { return "\"" + Oem(ReplaceAll(path, "%", "%%")) + "\""; };
    std::string xs(60, 'x');
    EXPECT_EQ(test::ReadFileBytes(script),
              "set QZTRY=\r\nset QZROUND=\r\n:try\r\n"
              "del " + quoted(exe) + "\r\n"
              "if not exist " + quoted(exe) + " goto done\r\n"
              "ping -n 2 127.0.0.1 >nul\r\n"
              "set QZTRY=%QZTRY%x\r\n"
              "if not \"%QZTRY%\"==\"" + xs + "\" goto try\r\n"
              "set QZTRY=\r\n"
              "set QZROUND=%QZROUND%x\r\n"
              "if not \"%QZROUND%\"==\"" + xs + "\" goto try\r\n"
              ":done\r\n"
              "rd " + quoted(folder) + "\r\n"
              "del " + quoted(script) + "\r\n");
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
