#include "StagedProgram.h"

#include <atomic>

#include "resource.h"

namespace test {

const char UninstallRoot[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char SharedDlls[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char NtFonts[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const DWORD RemovalTimeoutMs = 60000;

std::string Dword(DWORD value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
std::string Sz(const std::string& text) { return text + '\0'; }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

int ScriptsIn(const std::string& folder) {
    WIN32_FIND_DATAA data;
    qz::UniqueFind search(FindFirstFileA((folder + "\\*.bat").c_str(), &data));
    int count = search ? 1 : 0;
    while (search && FindNextFileA(search.Get(), &data)) ++count;
    return count;
}

namespace {

void DeleteValue(HKEY root, const char* subkey, const std::string& name) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_SET_VALUE, key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), name.c_str());
}

}  // namespace

StagedProgram::StagedProgram() {
    static std::atomic<int> counter{0};
    appId_ = "Qz End To End-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(++counter);
    key_ = UninstallRoot + appId_;
}

StagedProgram::~StagedProgram() {
    run_.reset();  // before anything it might still use goes
    // A removal script that was started is let finish before its folder goes.
    if (inst_) WaitUntil([&] { return ScriptsIn(inst_->Root()) == 0; }, RemovalTimeoutMs);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, key_.substr(5));
    for (const std::string& value : sharedValues_)
        DeleteValue(HKEY_LOCAL_MACHINE, SharedDlls + 5, value);
    DeleteValue(HKEY_LOCAL_MACHINE, NtFonts + 5, FontName());
    DeleteValue(HKEY_CURRENT_USER, "Software\\QuorvelTests\\ComServer", "e2e server.dll");
}

void StagedProgram::Install(const std::string& sections) {
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    std::string text = Replace(sections, "\n", "\r\n");
    text = Replace(text, "{bin}", BinFolder().substr(0, BinFolder().size() - 1));
    text = Replace(Replace(text, "{system}", system), "{font}", FontName());
    inst_ = std::make_unique<Installation>(
        std::string(StatusStrings) + "1=End to end\r\n2=No setup there\r\nAppID=" + appId_ +
            "\r\n" + PageCaptions + text,
        "e2e");
    exe_ = inst_->App() + "\\uninstall.exe";
    ASSERT_TRUE(CopyFileA((BinFolder() + "uninstall.exe").c_str(), exe_.c_str(), FALSE));
    inst_->File("{app}\\install.sss");
    inst_->SetValue(key_, "DisplayName", REG_SZ, Sz("End to end"));
    inst_->SetValue(key_ + "\\Details", "Kind", REG_SZ, Sz("subkey"));
}

void StagedProgram::SetSharedCount(const std::string& path, DWORD count) {
    sharedValues_.push_back(inst_->Expand(path));
    inst_->SetValue(SharedDlls, path, REG_DWORD, Dword(count));
}

void StagedProgram::Start(const std::string& arguments) {
    run_ = std::make_unique<ProgramRun>();
    ASSERT_TRUE(run_->Start(exe_, arguments));
}

void StagedProgram::NextOn(std::initializer_list<const char*> pages) {
    for (const char* name : pages)
        if (HWND page = Page(name)) PressButton(page, IDC_NEXT);
}

bool StagedProgram::TracesRemain() const {
    return inst_->FileExists(inst_->Log()) && inst_->FileExists("{app}\\install.sss") &&
           inst_->KeyExists(key_ + "\\Details") && inst_->FileExists(exe_);
}

void StagedProgram::ExpectTracesGone(const std::string& log, const std::string& repairData) {
    EXPECT_FALSE(inst_->KeyExists(key_));
    EXPECT_FALSE(inst_->FileExists(log));
    EXPECT_FALSE(inst_->FileExists(repairData));
    const std::string folder = exe_.substr(0, exe_.find_last_of('\\'));
    EXPECT_TRUE(WaitUntil([&] { return !inst_->FolderExists(folder); }, RemovalTimeoutMs))
        << "the program's folder is still there";
    EXPECT_TRUE(WaitUntil([&] { return ScriptsIn(inst_->Root()) == 0; }, RemovalTimeoutMs))
        << "the removal script is still there";
}

}  // namespace test
