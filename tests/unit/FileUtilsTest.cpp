#include <gtest/gtest.h>

#include "TestSupport.h"
#include "qzFileUtils.h"

TEST(FileUtils, PathTexts) {
    EXPECT_EQ(IncludeTrailingBackslash(""), "");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\A"), "C:\\A\\");
    EXPECT_EQ(IncludeTrailingBackslash("C:\\A\\"), "C:\\A\\");
    EXPECT_EQ(ExcludeTrailingBackslash("C:\\A\\"), "C:\\A");
    EXPECT_EQ(ExcludeTrailingBackslash("C:\\A"), "C:\\A");
    EXPECT_EQ(ExtractFilePath("C:\\A\\b.txt"), "C:\\A\\");
    EXPECT_EQ(ExtractFilePath("C:b.txt"), "C:");
    EXPECT_EQ(ExtractFilePath("b.txt"), "");
    EXPECT_EQ(ExtractFileName("C:\\A\\b.txt"), "b.txt");
    EXPECT_EQ(ExtractFileExt("C:\\A.d\\b"), "");
    EXPECT_EQ(ExtractFileExt("C:\\A\\b.tar.GZ"), ".GZ");
    EXPECT_EQ(ChangeFileExt("C:\\A\\install.log", ".sss"), "C:\\A\\install.sss");
    EXPECT_EQ(ChangeFileExt("C:\\A.d\\install", ".sss"), "C:\\A.d\\install.sss");
}

TEST(FileUtils, ForceFoldersCreatesEveryMissingParent) {
    test::TempFolder temp("ff");
    ForceFolders(temp / "A\\B\\C\\");
    EXPECT_TRUE(FolderExists(temp / "A\\B\\C"));
    ForceFolders("C:");
    ForceFolders("");
    EXPECT_FALSE(FolderExists(temp / "A\\B\\C\\d.txt"));
}

TEST(FileUtils, ForceDeleteFileRemovesReadOnlyAndHiddenFiles) {
    test::TempFolder temp("fd");
    for (DWORD attributes : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN,
                             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
        std::string path = temp.Write("f.txt");
        SetFileAttributesA(path.c_str(), attributes);
        EXPECT_TRUE(ForceDeleteFile(path)) << attributes;
        EXPECT_FALSE(test::PathExists(path));
    }
    EXPECT_FALSE(ForceDeleteFile(temp / "missing.txt"));
}

TEST(FileUtils, ReadTextLineEndsAtCrAndDropsEveryLf) {
    test::TempFolder temp("rl");
    std::string longLine(250, 'x');
    std::string path = temp.Write("lines.txt", "ab\r\ncd\rone\ntwo\r" + longLine + "\r\n\r\nlast");
    qz::UniqueHandle file(OpenFileHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(UsableHandle(file.Get()));
    std::vector<std::string> lines;
    while (!AtEndOfFile(file.Get())) lines.push_back(ReadTextLine(file.Get()));
    EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "onetwo", longLine, "", "last"}));
}

TEST(FileUtils, WriteTextLineEndsEachLineWithCrLf) {
    test::TempFolder temp("wl");
    std::string path = temp / "out.txt";
    HANDLE file = OpenFileHandle(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(WriteTextLine(file, "[Rename]"));
    EXPECT_TRUE(WriteTextLine(file, ""));
    CloseFileHandle(file);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(test::ReadFileBytes(path), "[Rename]\r\n\r\n");
}

TEST(FileUtils, ForceDeleteFileFailsOnAFileHeldOpenByAnotherProcess) {
    test::TempFolder temp("held");
    std::string path = temp.Write("locked.dll");
    {
        test::HeldFile held(path);
        ASSERT_TRUE(held.Held());
        EXPECT_FALSE(ForceDeleteFile(path));
        EXPECT_TRUE(test::PathExists(path));
    }
    EXPECT_TRUE(ForceDeleteFile(path));
}
