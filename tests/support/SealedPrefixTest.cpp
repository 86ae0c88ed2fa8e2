// The test program itself refuses to run outside a sealed prefix: started without the mark
// of this sealed prefix, or with the mark of another one, it ends at once with code 2 and
// runs no test. (Only the mark changes: no other prefix is ever started.)
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

// The current environment block with one variable changed ("" removes it).
std::string EnvironmentWith(const std::string& name, const std::string& value) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry; entry += lstrlenA(entry) + 1) {
        std::string text = entry;
        if (lstrcmpiA(text.substr(0, text.find('=')).c_str(), name.c_str()) != 0) block += text + '\0';
    }
    FreeEnvironmentStringsA(strings);
    if (!value.empty()) block += name + "=" + value + '\0';
    return block + '\0';
}

int RunSelfWith(const std::string& name, const std::string& value) {
    std::string line = "\"" + test::BinFolder() + "unit_tests.exe\" --gtest_list_tests";
    std::string environment = EnvironmentWith(name, value);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, &environment[0], nullptr,
                        &startup, &info))
        return -1;
    qz::UniqueHandle process(info.hProcess), thread(info.hThread);
    if (WaitForSingleObject(process.Get(), 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

TEST(SealedPrefix, TestProgramRefusesToRunOutsideIt) {
    EXPECT_EQ(0, RunSelfWith("QZ_TEST_UNRELATED", "1"));
    EXPECT_EQ(2, RunSelfWith("QZ_SEALED_PREFIX", ""));
    EXPECT_EQ(2, RunSelfWith("QZ_SEALED_PREFIX", "/tmp/quorvel-wine.other/prefix"));
}

}  // namespace
