#include <gtest/gtest.h>

#include <set>

#include "ComSupport.h"
#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzWinUtils.h"

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// Puts the boot-time rename value back as it was, so that tests leave no deletions behind.
class PendingRenamesGuard {
public:
    PendingRenamesGuard() { had_ = test::ReadRegistryBytes(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, bytes_, &type_); }
    ~PendingRenamesGuard() {
        qz::UniqueKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) return;
        if (had_)
            RegSetValueExA(key.Get(), kPendingRenames, 0, type_, reinterpret_cast<const BYTE*>(bytes_.data()),
                           static_cast<DWORD>(bytes_.size()));
        else
            RegDeleteValueA(key.Get(), kPendingRenames);
    }

private:
    bool had_ = false;
    std::string bytes_;
    DWORD type_ = REG_MULTI_SZ;
};

std::string PendingRenames() {
    std::string bytes;
    test::ReadRegistryBytes(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, bytes);
    return bytes;
}

std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return std::string(buffer, length < MAX_PATH ? length : 0);
}

}  // namespace

TEST(Deferred, RebootDeletionOnNtIsAPendingDeleteOfTheFullPath) {
    PendingRenamesGuard guard;
    test::TempFolder temp("rb");
    std::string path = temp.Write("in use.txt");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(temp.Path().c_str());
    DeleteFileAtReboot("in use.txt");
    DeleteFileAtReboot("missing.txt");
    SetCurrentDirectoryA(previous);

    std::string pending = PendingRenames();
    // Source, then an empty destination: delete.
    EXPECT_NE(pending.find("\\??\\" + path + std::string(2, '\0')), std::string::npos);
    EXPECT_EQ(pending.find("missing.txt"), std::string::npos);
    EXPECT_TRUE(test::PathExists(path));
}

// The Windows 9x family's list, written by rebootdelete.exe while Wine reports Windows 98
// to it. The real wininit.ini of the prefix is saved and put back.
class DeferredWin9xList : public ::testing::Test {
protected:
    void SetUp() override {
        qz::UniqueKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  key.Put(), nullptr), ERROR_SUCCESS);
        RegSetValueExA(key.Get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
        Save(list_, savedList_);
        Save(backup_, savedBackup_);
    }
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
        Restore(list_, savedList_);
        Restore(backup_, savedBackup_);
    }

    int Schedule(const std::string& path) {
        test::ChildProcess child;
        if (!child.Start("\"" + test::HelperProgram("rebootdelete") + "\" \"" + path + "\"")) return -1;
        return child.Wait(20000);
    }
    std::string List() const { return test::ReadFileBytes(list_); }
    void SetList(const std::string& bytes) const { test::WriteFileBytes(list_, bytes); }

    const std::string list_ = GetWindowsDir() + "\\wininit.ini";
    const std::string backup_ = GetWindowsDir() + "\\wininit.bak";
    test::TempFolder temp_{"w9x"};

private:
    static constexpr const char* kAppDefaults = "Software\\Wine\\AppDefaults\\rebootdelete.exe";
    struct Saved {
        bool existed = false;
        std::string bytes;
    };
    static void Save(const std::string& path, Saved& saved) {
        saved.existed = test::PathExists(path);
        saved.bytes = test::ReadFileBytes(path);
        DeleteFileA(path.c_str());
    }
    static void Restore(const std::string& path, const Saved& saved) {
        DeleteFileA(path.c_str());
        if (saved.existed) test::WriteFileBytes(path, saved.bytes);
    }
    Saved savedList_, savedBackup_;
};

TEST_F(DeferredWin9xList, WithoutAListANewOneHoldsTheSectionAndTheShortPath) {
    std::string path = temp_.Write("A long file name.text");
    std::string shortPath = ShortPath(path);
    ASSERT_NE(shortPath, path);
    ASSERT_EQ(Schedule(path), 0);
    EXPECT_EQ(List(), "[Rename]\r\nNUL=" + shortPath + "\r\n");
    EXPECT_FALSE(test::PathExists(backup_));
}

TEST_F(DeferredWin9xList, EntriesGoInFrontOfTheBlankLineAfterTheFirstRenameHeader) {
    std::string first = temp_.Write("first.txt"), second = temp_.Write("second.txt");
    SetList("[rename]\r\nNUL=C:\\X.TMP\r\n\r\n[Other]\r\n \t key = v  \r\n");
    test::WriteFileBytes(backup_, "stale backup");
    ASSERT_EQ(Schedule(first), 0);
    ASSERT_EQ(Schedule(second), 0);
    EXPECT_EQ(List(), "[rename]\r\nNUL=C:\\X.TMP\r\nNUL=" + ShortPath(first) + "\r\nNUL=" + ShortPath(second) +
                          "\r\n\r\n[Other]\r\nkey = v\r\n");
    EXPECT_FALSE(test::PathExists(backup_));
}

TEST_F(DeferredWin9xList, EntriesFollowAHeaderOnTheLastLineOrOpenANewSection) {
    std::string path = temp_.Write("f.txt");
    std::string entry = "NUL=" + ShortPath(path) + "\r\n";
    struct Case {
        std::string before, after;
    } cases[] = {
        {"[Other]\r\na=1\r\n[Rename]", "[Other]\r\na=1\r\n[Rename]\r\n" + entry},
        {"[Other]\r\na=1\r\n[Rename]\r\n", "[Other]\r\na=1\r\n[Rename]\r\n" + entry},
        {"[Rename]\nNUL=C:\\Y.TMP\n", "[Rename]\r\nNUL=C:\\Y.TMP\r\n" + entry},
        {"[Other]\r\na=1\r\n\r\n", "[Other]\r\na=1\r\n\r\n[Rename]\r\n" + entry},
        {"", "[Rename]\r\n" + entry},
    };
    for (const Case& c : cases) {
        SetList(c.before);
        ASSERT_EQ(Schedule(path), 0);
        EXPECT_EQ(List(), c.after) << c.before;
    }
}

TEST_F(DeferredWin9xList, AMissingFileChangesNothing) {
    SetList("[Rename]\r\nNUL=C:\\X.TMP\r\n");
    ASSERT_EQ(Schedule(temp_ / "missing.txt"), 0);
    EXPECT_EQ(List(), "[Rename]\r\nNUL=C:\\X.TMP\r\n");
    EXPECT_FALSE(test::PathExists(backup_));
}

// The list is moved to the backup before it is rewritten; when the backup cannot be
// replaced, the list must stay untouched and the failure is raised.
TEST_F(DeferredWin9xList, ABackupThatCannotBeReplacedRaisesAndKeepsTheList) {
    std::string path = temp_.Write("f.txt");
    SetList("[Rename]\r\nNUL=C:\\X.TMP\r\n");
    {
        test::HeldFile held(backup_);
        ASSERT_TRUE(held.Held());
        EXPECT_EQ(Schedule(path), 1);
    }
    EXPECT_EQ(List(), "[Rename]\r\nNUL=C:\\X.TMP\r\n");
}

namespace {

struct FileSpec {
    const char* path;
    DWORD attributes;
};

void WriteTree(test::TempFolder& temp, std::initializer_list<FileSpec> files) {
    for (const FileSpec& file : files) {
        std::string path = temp.Write(file.path);
        SetFileAttributesA(path.c_str(), file.attributes);
    }
}

}  // namespace

TEST(Deferred, FolderTreeGoesWithReadOnlyHiddenAndDotFiles) {
    test::TempFolder temp("dt");
    const DWORD hiddenSystemReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    WriteTree(temp, {{"root\\ro.txt", FILE_ATTRIBUTE_READONLY},
                     {"root\\.hidden", FILE_ATTRIBUTE_HIDDEN},
                     {"root\\sub\\deeper\\f.txt", hiddenSystemReadOnly},
                     {"root\\sub\\.git\\config", FILE_ATTRIBUTE_NORMAL}});

    EXPECT_TRUE(DeleteFolderTree(temp / "root", false));
    for (const char* file : {"root\\ro.txt", "root\\.hidden", "root\\sub\\deeper\\f.txt", "root\\sub\\.git\\config"})
        EXPECT_FALSE(test::PathExists(temp / file)) << file;
    EXPECT_TRUE(FolderExists(temp / "root\\sub\\deeper"));
    EXPECT_TRUE(FolderExists(temp / "root\\sub\\.git"));

    EXPECT_TRUE(DeleteFolderTree(temp / "root\\", true));
    EXPECT_FALSE(test::PathExists(temp / "root"));
    EXPECT_FALSE(DeleteFolderTree(temp / "root", true));
}

TEST(Deferred, FolderTreeWithALockedFileKeepsThatFolderAndItsParents) {
    test::TempFolder temp("dl");
    WriteTree(temp, {{"root\\a.txt", 0}, {"root\\sub\\b.txt", 0}, {"root\\other\\c.txt", 0}});
    test::HeldFile held(temp / "root\\sub\\locked.txt");
    ASSERT_TRUE(held.Held());

    EXPECT_FALSE(DeleteFolderTree(temp / "root", true));
    EXPECT_TRUE(test::PathExists(temp / "root\\sub\\locked.txt"));
    EXPECT_FALSE(test::PathExists(temp / "root\\sub\\b.txt"));
    EXPECT_FALSE(test::PathExists(temp / "root\\a.txt"));
    EXPECT_FALSE(test::PathExists(temp / "root\\other"));
}

TEST(Deferred, FolderTreeRefusesDriveRootsAndEmptyPaths) {
    const std::string sentinel = "C:\\qz-root-sentinel.txt";
    test::WriteFileBytes(sentinel, "keep");
    for (const char* folder : {"", "\\", "C:", "C:\\", "c:\\.", "C:\\qztests\\..", "\\\\localhost\\C$\\"})
        EXPECT_FALSE(DeleteFolderTree(folder, true)) << folder;
    EXPECT_TRUE(test::PathExists(sentinel));
    EXPECT_TRUE(FolderExists("C:\\qztests"));
    DeleteFileA(sentinel.c_str());
}

namespace {

// A symbolic link to a folder made by the host system: Wine reports it as a reparse point,
// the way Windows reports a junction. (A host link to a file looks like a plain file to
// Wine, and deleting it deletes its target, so file links cannot be tested here.) False
// when no link can be made.
bool MakeHostLink(const std::string& target, const std::string& link) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName) return false;
    auto unixPath = [&](const std::string& path) {
        std::wstring wide(path.begin(), path.end());
        char* name = unixName(wide.c_str());
        std::string result = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    };
    std::string parent = ExcludeTrailingBackslash(ExtractFilePath(link));
    std::string command = "/bin/ln -s " + unixPath(target) + " " + unixPath(parent) + "/" + ExtractFileName(link);
    test::ChildProcess ln;
    return ln.Start(command) && test::WaitUntil([&] { return test::PathExists(link); }, 10000);
}

}  // namespace

TEST(Deferred, FolderTreeNeverEntersALinkedFolder) {
    test::TempFolder temp("dj");
    std::string sentinel = temp.Write("outside\\sentinel.txt", "keep");
    temp.Write("root\\own.txt");
    if (!MakeHostLink(temp / "outside", temp / "root\\link")) GTEST_SKIP() << "no links can be made here";
    ASSERT_TRUE(GetFileAttributesA((temp / "root\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

    bool removed = DeleteFolderTree(temp / "root", true);
    EXPECT_TRUE(test::PathExists(sentinel));
    EXPECT_FALSE(test::PathExists(temp / "root\\own.txt"));
    // Wine cannot remove such a link; where it can, the whole tree goes.
    EXPECT_EQ(removed, !test::PathExists(temp / "root"));

    if (test::PathExists(temp / "root\\link")) {
        EXPECT_EQ(DeleteFolderTree(temp / "root\\link", true), !test::PathExists(temp / "root\\link"));
        EXPECT_TRUE(DeleteFolderTree(temp / "root\\link", false));
        EXPECT_TRUE(test::PathExists(sentinel));
    }
}

TEST(Deferred, ShortNameOfAnExistingLongPathOrThePathUnchanged) {
    test::TempFolder temp("sn");
    std::string path = temp.Write("Long folder name\\A long file name.text");
    std::string shortName = GetShortName(path);
    EXPECT_NE(shortName, path);
    EXPECT_NE(shortName.find('~'), std::string::npos);
    char longName[MAX_PATH];
    GetLongPathNameA(shortName.c_str(), longName, MAX_PATH);
    EXPECT_EQ(longName, path);
    EXPECT_EQ(GetShortName(temp / "no such file.text"), temp / "no such file.text");
}

namespace {

int FromBase32(const std::string& digits) {
    int value = 0;
    for (char c : digits) value = value * 32 + (c <= '9' ? c - '0' : c - 'A' + 10);
    return value;
}

std::string ToBase32(int value, size_t width) {
    std::string digits;
    for (; digits.size() < width; value /= 32) digits.insert(digits.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUV"[value % 32]);
    return digits;
}

int HundredthsNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now.wHour * 360000 + now.wMinute * 6000 + now.wSecond * 100 + now.wMilliseconds / 10;
}

}  // namespace

TEST(Deferred, UniqueNamesAreBase32TimeStampsWithPrefixAndExtension) {
    test::TempFolder temp("un");
    std::string name = MakeUniqueFileName(temp.Path(), "", ".bat", true);
    ASSERT_EQ(name.size(), 12u);
    EXPECT_EQ(name.substr(8), ".bat");
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"), 8u);
    int hundredths = HundredthsNow();
    if (hundredths > 200) {
        EXPECT_NEAR(FromBase32(name.substr(3, 5)), hundredths, 200);
    }

    std::string shortName = MakeUniqueFileName(temp.Path(), "setup", ".tmp", true);
    EXPECT_EQ(shortName.substr(0, 4), "setu");
    EXPECT_EQ(shortName.size(), 12u);
    std::string longName = MakeUniqueFileName(temp.Path(), "setup", "", false);
    EXPECT_EQ(longName.substr(0, 5), "setup");
    EXPECT_EQ(longName.size(), 13u);
}

// Takes every name of the next half second (files and folders alike): the name returned
// comes after them.
TEST(Deferred, UniqueNamesStepOverTakenFilesAndFolders) {
    test::TempFolder temp("ut");
    std::string first = MakeUniqueFileName(temp.Path(), "q", ".x", false);
    int time = FromBase32(first.substr(4, 5));
    if (time > 8630000) GTEST_SKIP() << "too close to midnight";
    std::set<std::string> taken;
    for (int step = 0; step < 50; ++step) {
        std::string name = first.substr(0, 4) + ToBase32(time + step, 5) + ".x";
        taken.insert(name);
        if (step % 2)
            CreateDirectoryA((temp / name).c_str(), nullptr);
        else
            temp.Write(name);
    }
    std::string next = MakeUniqueFileName(temp.Path(), "q", ".x", false);
    EXPECT_EQ(taken.count(next), 0u) << next;
    EXPECT_GT(FromBase32(next.substr(4, 5)), time + 49);
}
