#include <gtest/gtest.h>

#include <set>

#include "ComSupport.h"
#include "Installation.h"
#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzWinUtils.h"

namespace {

std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return std::string(buffer, length < MAX_PATH ? length : 0);
}

}  // namespace

// The installation forgets the recorded deletions of its files at the end.
TEST(Deferred, RebootDeletionOnNtIsAPendingDeleteOfTheFullPath) {
    test::Installation inst("");
    std::string path = inst.File("{root}\\in use.txt");
    {
        test::CurrentFolder current(inst.Root());
        DeleteFileAtReboot("in use.txt");
        DeleteFileAtReboot("missing.txt");
    }
    std::string pending;
    test::ReadRegistryBytes(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                            "PendingFileRenameOperations", pending);
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
    std::string path = temp_.Write("A long file name.text");
    ASSERT_NE(ShortPath(path), path);
    std::string entry = "NUL=" + ShortPath(path) + "\r\n";
    struct Case {
        std::string before, after;  // before "-": no list at all
    } cases[] = {
        {"-", "[Rename]\r\n" + entry},
        {"[Other]\r\na=1\r\n[Rename]", "[Other]\r\na=1\r\n[Rename]\r\n" + entry},
        {"[Other]\r\na=1\r\n[Rename]\r\n", "[Other]\r\na=1\r\n[Rename]\r\n" + entry},
        {"[Rename]\nNUL=C:\\Y.TMP\n", "[Rename]\r\nNUL=C:\\Y.TMP\r\n" + entry},
        {"[Other]\r\na=1\r\n\r\n", "[Other]\r\na=1\r\n\r\n[Rename]\r\n" + entry},
        {"", "[Rename]\r\n" + entry},
    };
    for (const Case& c : cases) {
        if (c.before == "-")
            DeleteFileA(list_.c_str());
        else
            SetList(c.before);
        ASSERT_EQ(Schedule(path), 0);
        EXPECT_EQ(List(), c.after) << c.before;
        EXPECT_FALSE(test::PathExists(backup_));
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

TEST(Deferred, FolderTreeGoesWithReadOnlyHiddenAndDotFiles) {
    test::Installation inst("");
    const char* const files[] = {"ro.txt", ".hidden", "sub\\deeper\\f.txt", "sub\\.git\\config"};
    const DWORD attributes[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                                FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY, 0};
    for (int i = 0; i < 4; ++i) inst.File(std::string("{root}\\root\\") + files[i], attributes[i]);
    const std::string root = inst.Expand("{root}\\root");

    EXPECT_TRUE(DeleteFolderTree(root, false));
    for (const char* file : files) EXPECT_FALSE(test::PathExists(root + "\\" + file)) << file;
    EXPECT_TRUE(FolderExists(root + "\\sub\\deeper"));
    EXPECT_TRUE(FolderExists(root + "\\sub\\.git"));

    EXPECT_TRUE(DeleteFolderTree(root + "\\", true));
    EXPECT_FALSE(test::PathExists(root));
    EXPECT_FALSE(DeleteFolderTree(root, true));
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

// A host link to a folder looks like a junction to Wine. (A host link to a file looks like a
// plain file, and deleting it deletes its target, so file links cannot be tested here.)
TEST(Deferred, FolderTreeNeverEntersALinkedFolder) {
    test::Installation inst("");
    std::string sentinel = inst.File("{root}\\outside\\sentinel.txt", 0, "keep");
    inst.File("{root}\\root\\own.txt");
    if (!inst.Link("{root}\\root\\link", "{root}\\outside")) GTEST_SKIP() << "no links can be made here";
    const std::string root = inst.Expand("{root}\\root"), link = root + "\\link";
    ASSERT_TRUE(GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);

    bool removed = DeleteFolderTree(root, true);
    EXPECT_TRUE(test::PathExists(sentinel));
    EXPECT_FALSE(test::PathExists(root + "\\own.txt"));
    // Wine cannot remove such a link; where it can, the whole tree goes.
    EXPECT_EQ(removed, !test::PathExists(root));

    if (test::PathExists(link)) {
        EXPECT_EQ(DeleteFolderTree(link, true), !test::PathExists(link));
        EXPECT_TRUE(DeleteFolderTree(link, false));
        EXPECT_TRUE(test::PathExists(sentinel));
    }
}

TEST(Deferred, ShortNameOfAnExistingLongPathOrThePathUnchanged) {
    test::TempFolder temp("sn");
    std::string path = temp.Write("Long folder name\\A long file name.text");
    std::string shortName = GetShortName(path);
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

}  // namespace

TEST(Deferred, UniqueNamesAreBase32DigitsWithPrefixAndExtension) {
    test::TempFolder temp("un");
    std::string name = MakeUniqueFileName(temp.Path(), "", ".bat", true);
    EXPECT_EQ(name.size(), 12u);
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUV"), 8u);
    EXPECT_EQ(name.substr(8), ".bat");
    // The short form keeps eight characters before the extension, the long one the whole prefix.
    name = MakeUniqueFileName(temp.Path(), "setup", ".tmp", true);
    EXPECT_EQ(name.substr(0, 4) + name.substr(8), "setu.tmp");
    name = MakeUniqueFileName(temp.Path(), "setup", "", false);
    EXPECT_EQ(name.substr(0, 5), "setup");
    EXPECT_EQ(name.size(), 13u);
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
