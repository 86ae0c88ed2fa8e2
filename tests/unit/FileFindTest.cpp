#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Installation.h"
#include "qzFileFind.h"

namespace {

// Names of every entry a search returns, sorted; the search is closed afterwards.
std::vector<std::string> FoundNames(const std::string& mask, int32_t include, int32_t exclude) {
    std::vector<std::string> names;
    TSearchRecEx record;
    for (DWORD result = FindFirstEx(mask, include, exclude, record); result == 0;
         result = FindNextEx(record))
        names.push_back(record.Name);
    FindCloseEx(record);
    std::sort(names.begin(), names.end());
    return names;
}

using Names = std::vector<std::string>;

// plain.txt, hidden.txt, readonly.txt and the folder sub. Wine reports every file with the
// archive bit, so a file with none of the six bits cannot be made here; an include mask
// that no entry shares (system) stands in for it.
class FileFindFolder : public ::testing::Test {
protected:
    void SetUp() override {
        temp.Write("plain.txt");
        SetAttributes(temp.Write("hidden.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        SetAttributes(temp.Write("readonly.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        CreateDirectoryA((temp / "sub").c_str(), nullptr);
    }
    static void SetAttributes(const std::string& path, DWORD attributes) {
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
    }
    test::TempFolder temp{"find"};
};

}  // namespace

TEST_F(FileFindFolder, AttributeMasksSelectEntriesAndDotEntriesNeverAppear) {
    const std::string all = temp / "*";
    const Names everything{"hidden.txt", "plain.txt", "readonly.txt", "sub"};
    EXPECT_EQ(FoundNames(all, 0, 0), everything);
    EXPECT_EQ(FoundNames(all, 63, 0), everything);
    EXPECT_EQ(FoundNames(all, FILE_ATTRIBUTE_SYSTEM, 0), Names{});
    EXPECT_EQ(FoundNames(all, 0, 0x18), (Names{"hidden.txt", "plain.txt", "readonly.txt"}));
    EXPECT_EQ(FoundNames(all, FILE_ATTRIBUTE_DIRECTORY, 0), (Names{"sub"}));
    EXPECT_EQ(FoundNames(all, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, 0),
              (Names{"hidden.txt", "readonly.txt"}));
    // Exclusion wins over inclusion.
    EXPECT_EQ(FoundNames(all, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_HIDDEN),
              (Names{"plain.txt", "readonly.txt"}));
    EXPECT_EQ(FoundNames(temp / "sub\\*", 0, 0), Names{});
}

TEST_F(FileFindFolder, RecordHoldsTheEntryWithItsFullPath) {
    const std::string path = temp.Write("data.bin", std::string(1234, 'd'));
    SYSTEMTIME when{2021, 3, 0, 14, 15, 9, 26, 0};  // local time; DOS keeps even seconds
    FILETIME local, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&when, &local) && LocalFileTimeToFileTime(&local, &utc));
    {
        qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          0, nullptr));
        ASSERT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &utc));
    }
    TSearchRecEx record;
    ASSERT_EQ(FindFirstEx(temp / "data.*", 0, 0, record), 0u);
    EXPECT_EQ(record.Path, temp.Path());
    EXPECT_EQ(record.Name, "data.bin");
    EXPECT_EQ(record.FullName, path);
    EXPECT_EQ(record.Size, 1234);
    EXPECT_TRUE(record.Attr & FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(record.Time, 0x526E792Du);  // DOS date 2021-03-14, time 15:09:26
    EXPECT_EQ(FindNextEx(record), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(record.Name, "data.bin") << "a failed step keeps the last entry";
    FindCloseEx(record);
    EXPECT_FALSE(record.FindHandle.Valid());
}

TEST(FileFind, EmptyFolderAndMissingFolderReportErrorsWithNothingOpen) {
    test::TempFolder temp("findempty");
    TSearchRecEx record;
    EXPECT_EQ(FindFirstEx(temp / "*", 0, 0, record), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_FALSE(record.FindHandle.Valid());
    EXPECT_NE(FindFirstEx(temp / "missing\\*", 0, 0, record), 0u);
    EXPECT_FALSE(record.FindHandle.Valid());
    EXPECT_NE(FindNextEx(record), 0u);
    FindCloseEx(record);
}

TEST(FileFind, MaskWithoutFolderGivesBareNames) {
    test::TempFolder temp("findrel");
    temp.Write("rel.txt");
    test::CurrentFolder current(temp.Path());
    TSearchRecEx record;
    ASSERT_EQ(FindFirstEx("rel.*", 0, 0, record), 0u);
    FindCloseEx(record);
    EXPECT_EQ(record.Path, "");
    EXPECT_EQ(record.FullName, "rel.txt");
    EXPECT_EQ(FoundNames(temp / "rel.txt", 0, 0), Names{"rel.txt"});
}

TEST(FileFind, FileOver4GiBReportsTheLowSizeWord) {
    test::TempFolder temp("findbig");
    const std::string path = temp / "big.bin";
    {
        qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = 0x100000000LL + 77;
        ASSERT_TRUE(SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN));
        if (!SetEndOfFile(file.Get())) GTEST_SKIP() << "no room for a sparse 4 GiB file";
    }
    TSearchRecEx record;
    ASSERT_EQ(FindFirstEx(path, 0, 0, record), 0u);
    EXPECT_EQ(record.Size, 77);
}
