#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "TestSupport.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"

namespace {

// Values are set up and checked with the plain registry API, independently of the unit.
void RawSet(HKEY root, const std::string& subkey, const std::string& name, DWORD type,
            const std::string& bytes) {
    qz::UniqueKey key;
    ASSERT_EQ(RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

// The value's type and bytes; type 0xFFFFFFFF when it cannot be read.
std::pair<DWORD, std::string> RawGet(HKEY root, const std::string& subkey, const std::string& name) {
    std::pair<DWORD, std::string> value;
    if (!test::ReadRegistryBytes(root, subkey, name, value.second, &value.first)) return {0xFFFFFFFF, ""};
    return value;
}
using test::KeyExists;

// Scratch keys HKCU\Software\QuorvelTests\<pid> and HKLM\Software\QuorvelTests\<pid>.
class RegIniRegistry : public ::testing::Test {
protected:
    const std::string sub = "Software\\QuorvelTests\\" + std::to_string(GetCurrentProcessId());
    const std::string cu = "HKCU\\" + sub;
    const std::string lm = "HKLM\\" + sub;

    void TearDown() override {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            test::DeleteKeyTree(root, sub);
            RegDeleteKeyA(root, "Software\\QuorvelTests");
        }
    }
};

using Bytes = std::pair<DWORD, std::string>;

std::vector<std::string> Texts(const TStringList& list) {
    std::vector<std::string> texts;
    for (const auto& entry : list.Entries()) texts.push_back(entry.text);
    return texts;
}

}  // namespace

TEST(RegIniPaths, RootNamesAndSubkeys) {
    struct Case {
        const char* path;
        HKEY root;
        const char* subkey;
    } cases[] = {
        {"HKLM\\SOFTWARE\\Microsoft\\", HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft"},
        {"HkCu\\A\\B", HKEY_CURRENT_USER, "A\\B"},
        {"HKCR\\.txt", HKEY_CLASSES_ROOT, ".txt"},
        {"hku\\.DEFAULT", HKEY_USERS, ".DEFAULT"},
        {"HKLM", HKEY_LOCAL_MACHINE, ""},
        {"HKEY_LOCAL_MACHINE\\Software", HKEY_CURRENT_USER, "HKEY_LOCAL_MACHINE\\Software"},
        {"Software\\Vendor\\", HKEY_CURRENT_USER, "Software\\Vendor"},
        {"", HKEY_CURRENT_USER, ""},
    };
    for (const Case& c : cases) {
        HKEY root = nullptr;
        std::string subkey = "stale";
        SplitRegPath(c.path, root, subkey);
        EXPECT_EQ(root, c.root) << c.path;
        EXPECT_EQ(subkey, c.subkey) << c.path;
    }
}

TEST_F(RegIniRegistry, TypedWritesStoreThePlatformsBytes) {
    struct Case {
        const char* name;
        DWORD type;
        const char* text;
        Bytes stored;  // type 0xFFFFFFFF: refused, nothing stored
    } cases[] = {
        {"sz", REG_SZ, "text", {REG_SZ, std::string("text\0", 5)}},
        {"expand", REG_EXPAND_SZ, "%WINDIR%\\x", {REG_SZ, std::string("%WINDIR%\\x\0", 11)}},
        {"bin", REG_BINARY, "0A 1B 2", {REG_BINARY, "\x0A\x1B"}},
        {"junk", REG_BINARY, "ZZ", {REG_BINARY, std::string(1, '\0')}},
        {"dword", REG_DWORD, "4294967295", {REG_DWORD, "\xFF\xFF\xFF\xFF"}},
        {"multi", REG_MULTI_SZ, "a\r\nb\nc\rd\r\n", {REG_MULTI_SZ, std::string("a\0b\0c\0d\0\0", 9)}},
        {"emptyMulti", REG_MULTI_SZ, "", {REG_MULTI_SZ, std::string(1, '\0')}},
        {"none", REG_NONE, "x", {0xFFFFFFFF, ""}},
        {"link", REG_LINK, "x", {0xFFFFFFFF, ""}},
    };
    HKEY u = HKEY_CURRENT_USER;
    for (const Case& c : cases) {
        EXPECT_EQ(RegWriteTyped(cu, c.name, c.type, c.text), c.stored.first != 0xFFFFFFFF) << c.name;
        EXPECT_EQ(RawGet(u, sub, c.name), c.stored) << c.name;
    }
    EXPECT_TRUE(RegWriteTyped(lm + "\\New\\Deeper", "", REG_SZ, "default value"));
    EXPECT_EQ(RawGet(HKEY_LOCAL_MACHINE, sub + "\\New\\Deeper", "").second, std::string("default value\0", 14));

    TStringList lines;
    lines.Add("one\ntwo");
    lines.Add("x\ry");
    EXPECT_TRUE(RegWriteMultiString(cu, "list", lines));
    EXPECT_EQ(RawGet(u, sub, "list").second, std::string("onetwo\0x\0y\0\0", 12));
    EXPECT_TRUE(RegWriteInteger(cu + "\\", "int", -2));
    EXPECT_EQ(RawGet(u, sub, "int").second, "\xFE\xFF\xFF\xFF");
}

TEST_F(RegIniRegistry, ReadsGiveTheTextFormOfEveryType) {
    HKEY u = HKEY_CURRENT_USER;
    RawSet(u, sub, "sz", REG_SZ, std::string("text\0", 5));
    RawSet(u, sub, "expand", REG_EXPAND_SZ, std::string("%WINDIR%\\x\0", 11));
    RawSet(u, sub, "unterminated", REG_SZ, "abc");
    RawSet(u, sub, "bin", REG_BINARY, std::string("\x00\xAB\x7F", 3));
    RawSet(u, sub, "dword", REG_DWORD, "\xFF\xFF\xFF\xFF");
    RawSet(u, sub, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    RawSet(u, sub, "multiOneNul", REG_MULTI_SZ, std::string("a\0b\0", 4));
    RawSet(u, sub, "multiEmpty", REG_MULTI_SZ, std::string(1, '\0'));
    for (DWORD type : {REG_NONE, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_QWORD})
        RawSet(u, sub, "type" + std::to_string(type), type, "\x01\x02");

    const std::pair<const char*, const char*> texts[] = {
        {"sz", "text"}, {"expand", "%WINDIR%\\x"}, {"unterminated", "abc"}, {"bin", "00AB7F"},
        {"dword", "4294967295"}, {"multi", "a\r\nb"}, {"multiOneNul", "a\r\nb"}, {"multiEmpty", ""}};
    for (const auto& [name, text] : texts) EXPECT_EQ(RegReadString(cu, name, "d"), text) << name;
    for (DWORD type : {REG_NONE, REG_DWORD_BIG_ENDIAN, REG_LINK, REG_QWORD})
        EXPECT_EQ(RegReadString(cu, "type" + std::to_string(type), "d"), "d") << type;
    EXPECT_EQ(RegReadString(cu, "missing", "d"), "d");
    EXPECT_EQ(RegReadString(cu + "\\NoSuchKey", "sz", "d"), "d");

    EXPECT_EQ(RegValueType(cu, "multi"), static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(RegValueType(cu, "missing"), 0u);
    EXPECT_EQ(RegValueSize(cu, "sz"), 5u);
    EXPECT_EQ(RegValueSize(cu, "missing"), 0u);
    char small[2];
    DWORD size = sizeof small;
    EXPECT_FALSE(RegReadData(cu, "sz", small, size));

    std::vector<uint8_t> data;
    EXPECT_TRUE(RegReadBytes(cu, "bin", data));
    EXPECT_EQ(data, (std::vector<uint8_t>{0x00, 0xAB, 0x7F}));
    EXPECT_FALSE(RegReadBytes(cu, "missing", data));
    EXPECT_EQ(RegReadBytesHex(cu, "sz", "d"), "7465787400");
    EXPECT_EQ(RegReadBytesHex(cu, "missing", "d"), "d");
}

TEST_F(RegIniRegistry, NumbersAndBooleans) {
    HKEY u = HKEY_CURRENT_USER;
    RawSet(u, sub, "one", REG_DWORD, std::string("\x01\0\0\0", 4));
    RawSet(u, sub, "two", REG_DWORD, std::string("\x02\0\0\0", 4));
    RawSet(u, sub, "short", REG_BINARY, "\x34\x12");
    RawSet(u, sub, "long", REG_BINARY, "\x01\x02\x03\x04\x05");
    RawSet(u, sub, "longDword", REG_DWORD, "\x01\x02\x03\x04\x05");
    RawSet(u, sub, "textOne", REG_SZ, "1");

    EXPECT_EQ(RegReadInteger(cu, "two", 7), 2);
    EXPECT_EQ(RegReadInteger(cu, "short", 7), 0x1234);
    EXPECT_EQ(RegReadInteger(cu, "long", 7), 7);
    EXPECT_EQ(RegReadInteger(cu, "missing", 7), 7);
    EXPECT_EQ(RegReadString(cu, "longDword", "12"), "12");
    EXPECT_EQ(RegReadString(cu, "longDword", "x"), "0");

    EXPECT_TRUE(RegReadBool(cu, "one", false));
    EXPECT_FALSE(RegReadBool(cu, "two", true));
    EXPECT_FALSE(RegReadBool(cu, "textOne", true));  // the text "1" is the number 0x31
    EXPECT_TRUE(RegReadBool(cu, "missing", true));
}

TEST_F(RegIniRegistry, EnumerationAndValueDeletion) {
    HKEY u = HKEY_CURRENT_USER;
    for (const char* name : {"\\Alpha", "\\Beta", "\\Beta\\Inner", "\\Gamma"})
        RawSet(u, sub + name, "v", REG_SZ, "x");
    TStringList list;
    list.Add("stale");
    RegEnumSubKeys(cu + "\\", list);
    std::vector<std::string> names = Texts(list);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
    RegEnumSubKeys(cu + "\\Missing", list);
    EXPECT_TRUE(list.Empty());

    EXPECT_TRUE(DeleteRegValue(cu + "\\Alpha", "v"));
    EXPECT_EQ(RawGet(u, sub + "\\Alpha", "v").first, 0xFFFFFFFFu);
    EXPECT_FALSE(DeleteRegValue(cu + "\\Alpha", "v"));
    EXPECT_FALSE(DeleteRegValue(cu + "\\Missing", "v"));
}

TEST_F(RegIniRegistry, RecursiveDeleteRemovesTheWholeTreeAndNothingElse) {
    HKEY m = HKEY_LOCAL_MACHINE;
    for (const char* name : {"\\Tree\\A\\A1\\A2", "\\Tree\\B", "\\Tree\\B\\B1", "\\Tree2",
                             "\\x:\\y", "\\x:y"})
        RawSet(m, sub + name, "v", REG_SZ, "x");

    EXPECT_FALSE(DeleteRegKey(lm + "\\Tree", false));  // it still has subkeys
    EXPECT_TRUE(KeyExists(m, sub + "\\Tree\\A\\A1\\A2"));
    EXPECT_TRUE(DeleteRegKey(lm + "\\Tree\\", true));
    EXPECT_FALSE(KeyExists(m, sub + "\\Tree"));
    EXPECT_TRUE(KeyExists(m, sub + "\\Tree2"));
    EXPECT_FALSE(DeleteRegKey(lm + "\\Tree", true));

    // A ":" belongs to the key name; it does not separate a parent key.
    EXPECT_TRUE(DeleteRegKey(lm + "\\x:y", false));
    EXPECT_FALSE(KeyExists(m, sub + "\\x:y"));
    EXPECT_TRUE(KeyExists(m, sub + "\\x:\\y"));
}

TEST_F(RegIniRegistry, RootKeysAreNeverDeleted) {
    // Without the refusal, "HKLM" alone would be taken as leaf "HKLM" of HKEY_CURRENT_USER.
    RawSet(HKEY_CURRENT_USER, "HKLM", "v", REG_SZ, "x");
    for (const char* root : {"HKLM", "HKLM\\", "hkcu", "HKCR\\", "HKU", "", "\\"}) {
        EXPECT_FALSE(DeleteRegKey(root, true)) << root;
        EXPECT_FALSE(DeleteRegKey(root, false)) << root;
    }
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "HKLM"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_TRUE(DeleteRegKey("HKCU\\HKLM", false));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "HKLM"));
}

// The system sees a path only up to a NUL: a leaf starting with one would name the parent
// and a recursive deletion would empty it; one inside would name another key.
TEST_F(RegIniRegistry, PathsHoldingANulAreNeverDeleted) {
    HKEY m = HKEY_LOCAL_MACHINE;
    RawSet(m, sub + "\\Parent\\Child", "v", REG_SZ, "x");
    const std::string nul(1, '\0');
    for (const std::string& path : {lm + "\\Parent\\" + nul + "Child", lm + "\\Parent\\Child" + nul + "x",
                                    lm + "\\Parent" + nul + "\\Child"}) {
        EXPECT_FALSE(DeleteRegKey(path, true));
        EXPECT_FALSE(DeleteRegKey(path, false));
    }
    EXPECT_TRUE(KeyExists(m, sub + "\\Parent\\Child"));
}

TEST_F(RegIniRegistry, RecursiveDeleteRemovesLinksWithoutFollowingThem) {
    HKEY m = HKEY_LOCAL_MACHINE;
    RawSet(m, sub + "\\Target\\Inner", "keep", REG_SZ, "x");
    RawSet(m, sub + "\\Tree\\Plain", "v", REG_SZ, "x");
    {
        qz::UniqueKey link;
        ASSERT_EQ(RegCreateKeyExA(m, (sub + "\\Tree\\Link").c_str(), 0, nullptr,
                                  REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                                  nullptr, link.Put(), nullptr),
                  ERROR_SUCCESS);
        std::string target = "\\Registry\\Machine\\" + sub + "\\Target";
        std::wstring wide(target.begin(), target.end());
        ASSERT_EQ(RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                                 reinterpret_cast<const BYTE*>(wide.data()),
                                 static_cast<DWORD>(wide.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(RawGet(m, sub + "\\Tree\\Link\\Inner", "keep").first, static_cast<DWORD>(REG_SZ))
        << "the link does not lead to its target";

    EXPECT_TRUE(DeleteRegKey(lm + "\\Tree", true));
    EXPECT_FALSE(KeyExists(m, sub + "\\Tree"));
    EXPECT_EQ(RawGet(m, sub + "\\Target\\Inner", "keep").first, static_cast<DWORD>(REG_SZ));
}

// ---------------------------------------------------------------------------------------
// INI files through the engine cache
// ---------------------------------------------------------------------------------------

namespace {

// A thread that runs a body; a test that fails to finish in time still ends.
class TestThread {
public:
    explicit TestThread(std::function<void()> body)
        : body_(std::move(body)), handle_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}
    ~TestThread() {
        if (!Finished(60000)) TerminateThread(handle_.Get(), 1);
    }
    TestThread(const TestThread&) = delete;
    TestThread& operator=(const TestThread&) = delete;
    bool Finished(DWORD timeoutMs) const {
        return handle_ && WaitForSingleObject(handle_.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<TestThread*>(self)->body_();
        return 0;
    }
    std::function<void()> body_;
    qz::UniqueHandle handle_;
};

class RegIniCache : public ::testing::Test {
protected:
    test::TempFolder temp{"regini"};
    void TearDown() override { ReleaseAllIniFiles(); }
};

}  // namespace

TEST_F(RegIniCache, ReadsSectionsBooleansAndDefaults) {
    std::string path = temp.Write("r.ini",
                                  "[Display]\r\nOn=1\r\nTwo=2\r\nWord=yes\r\n"
                                  "[Files]\r\nb=2\r\na=1\r\n[Notes]\r\n;only a comment\r\n");
    EXPECT_TRUE(ReadIniBool(path, "Display", "On", false));
    EXPECT_FALSE(ReadIniBool(path, "Display", "Two", true));
    EXPECT_FALSE(ReadIniBool(path, "Display", "Word", true));
    EXPECT_TRUE(ReadIniBool(path, "Display", "Missing", true));
    EXPECT_EQ(ReadIniString(path, "Nowhere", "k", "dflt"), "dflt");

    TStringList lines;
    ReadIniSection(path, "files", lines);
    EXPECT_EQ(Texts(lines), (std::vector<std::string>{"b=2", "a=1"}));
    ReadIniSection(path, "Nowhere", lines);
    EXPECT_EQ(lines.Count(), 2);
    EXPECT_EQ(CountIniSectionLines(path, "Files"), 2);
    EXPECT_EQ(CountIniSectionLines(path, "Notes"), 0);
    EXPECT_EQ(CountIniSectionLines(path, "Nowhere"), 0);
    EXPECT_EQ(CountIniSectionLines(temp / "absent.ini", "Files"), 0);
}

TEST_F(RegIniCache, WritingReplacesAReadOnlyEngineWhichReadsTheFileAgain) {
    std::string path = temp.Write("w.ini", "[S]\r\nK=old\r\nGone=x\r\n");
    EXPECT_EQ(ReadIniString(path, "S", "K", "d"), "old");
    test::WriteFileBytes(path, "[S]\r\nK=disk\r\nGone=x\r\n");
    EXPECT_EQ(ReadIniString(path, "S", "K", "d"), "old");  // served from memory

    EXPECT_TRUE(WriteIniString(path, "S", "New", "value"));
    EXPECT_FALSE(GetCachedIniFile(path, true)->ReadOnly());
    EXPECT_EQ(ReadIniString(path, "S", "K", "d"), "disk");
    EXPECT_EQ(ReadIniString(path, "S", "New", "d"), "value");
    DeleteIniKey(path, "S", "Gone");
    EXPECT_EQ(ReadIniString(path, "S", "Gone", "d"), "d");
    EXPECT_EQ(test::ReadFileBytes(path).find("New"), std::string::npos);

    ReleaseAllIniFiles();
    EXPECT_EQ(test::ReadFileBytes(path), "[S]\r\nK=disk\r\nNew=value\r\n\r\n");
}

TEST_F(RegIniCache, NamesDifferingInCaseShareOneEngineThatCreatesTheUpperCasedFile) {
    std::string path = temp / "sub\\new.ini";
    EXPECT_TRUE(WriteIniString(path, "Sec", "Key", "v"));
    TqzIniFile* engine = GetCachedIniFile(UpperCase(path), true);
    EXPECT_EQ(GetCachedIniFile(path, false), engine);
    EXPECT_EQ(engine->FileName(), UpperCase(path));
    ReleaseCachedIniFile(LowerCaseAscii(path));
    EXPECT_EQ(test::ReadFileBytes(path), "[Sec]\r\nKey=v\r\n\r\n");
    WIN32_FIND_DATAA data;
    qz::UniqueFind file(FindFirstFileA(path.c_str(), &data));
    ASSERT_TRUE(file);
    EXPECT_STREQ(data.cFileName, "NEW.INI");
    qz::UniqueFind folder(FindFirstFileA((temp / "sub").c_str(), &data));
    ASSERT_TRUE(folder);
    EXPECT_STREQ(data.cFileName, "SUB");
}

TEST_F(RegIniCache, AWriteThatCannotOpenTheFileRaisesAndReleasesTheLock) {
    std::string path = temp.Write("locked.ini", "[S]\r\nK=v\r\n");
    EXPECT_EQ(ReadIniString(path, "S", "K", "d"), "v");
    // Another process writes the file and lets others only read it.
    test::HeldFile holder(path, FILE_SHARE_READ);
    ASSERT_TRUE(holder.Held());
    try {
        WriteIniString(path, "S", "K", "new");
        ADD_FAILURE() << "no error raised";
    } catch (const EInOutError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file " + UpperCase(path));
    }
    EXPECT_THROW(DeleteIniKey(path, "S", "K"), EInOutError);

    // Nothing stays locked or cached: another thread loads the file again and reads it.
    std::string seen;
    TestThread other([&] { seen = ReadIniString(path, "S", "K", "d"); });
    EXPECT_TRUE(other.Finished(10000)) << "the cache lock was not released";
    EXPECT_EQ(seen, "v");
}

TEST_F(RegIniCache, TwoThreadsReadAndWriteOneFileWithoutLosingEntries) {
    std::string path = temp.Write("shared.ini", "[S]\r\n");
    const int writes = 300;
    volatile LONG done = 0;
    bool countWentDown = false;
    TestThread writer([&] {
        for (int i = 0; i < writes; ++i) {
            WriteIniString(path, "S", "K" + std::to_string(i), "V" + std::to_string(i));
            if (i % 25 == 0) ReleaseCachedIniFile(path);
        }
        InterlockedExchange(&done, 1);
    });
    TestThread reader([&] {
        int last = 0;
        for (int round = 0; !done; ++round) {
            int count = CountIniSectionLines(path, "S");
            countWentDown = countWentDown || count < last;
            last = count;
            ReadIniString(path, "S", "K0", "");
            if (round % 40 == 0) ReleaseAllIniFiles();
        }
    });
    ASSERT_TRUE(writer.Finished(60000));
    ASSERT_TRUE(reader.Finished(60000));
    EXPECT_FALSE(countWentDown);

    ReleaseAllIniFiles();
    EXPECT_EQ(CountIniSectionLines(path, "S"), writes);
    for (int i = 0; i < writes; ++i)
        ASSERT_EQ(ReadIniString(path, "S", "K" + std::to_string(i), ""), "V" + std::to_string(i));
}

// Run as a child process by the next test: writes and ends without releasing the engine.
TEST(RegIniAtExit, ChildWritesWithoutRelease) {
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("QZ_REGINI_EXIT_FILE", path, MAX_PATH))
        GTEST_SKIP() << "only run as a child process";
    WriteIniString(path, "S", "K", "written at exit");
}

TEST_F(RegIniCache, TheProcessEndWritesCachedEnginesBack) {
    std::string path = temp / "exit.ini";
    SetEnvironmentVariableA("QZ_REGINI_EXIT_FILE", path.c_str());
    test::ChildProcess child;
    bool started = child.Start("\"" + test::BinFolder() +
                               "unit_tests.exe\" --gtest_filter=RegIniAtExit.ChildWritesWithoutRelease");
    SetEnvironmentVariableA("QZ_REGINI_EXIT_FILE", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(child.Wait(30000), 0);
    EXPECT_EQ(test::ReadFileBytes(path), "[S]\r\nK=written at exit\r\n\r\n");
}
