#include "ProgramRun.h"

#include <algorithm>
#include <atomic>

#include "resource.h"

namespace test {

const char BoxCaption[] = "Quorvel Uninstaller";
const char UninstallRoot[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char SharedDlls[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

namespace {

const char PageTexts[] =
    "1=Qz Program\n2=No setup there\n18=Shared %s\n[Dialog.DLG_START]\nCaption=DLG_START\n"
    "102=Onward\n[Dialog.DLG_BEFOREUNINSTALL]\nCaption=DLG_BEFOREUNINSTALL\n"
    "[Dialog.DLG_BEFOREREPAIR]\nCaption=DLG_BEFOREREPAIR\n[Dialog.DLG_BROWSEFORSETUP]\n"
    "Caption=DLG_BROWSEFORSETUP\n200=Setup folder\n[Dialog.DLG_UNINSTALL]\nCaption=DLG_UNINSTALL\n"
    "[Dialog.DLG_REBOOT]\nCaption=DLG_REBOOT\n[Dialog.DLG_UNINSTALLSUCCEEDED]\n"
    "Caption=DLG_UNINSTALLSUCCEEDED\n[Dialog.DLG_DELSHARED]\nCaption=DLG_DELSHARED\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

void MakeFolders(const std::string& folder) {
    for (size_t at = 3; at != std::string::npos; at = folder.find('\\', at + 1))
        CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
}

void MakeFile(const std::string& path) {
    MakeFolders(Folder(path));
    WriteFileBytes(path, "x");
}

// A registry path "HKLM\..." or "HKCU\..." opened or created.
qz::UniqueKey OpenKey(const std::string& path, bool create) {
    HKEY root = path.compare(0, 4, "HKLM") == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    qz::UniqueKey key;
    if (create)
        RegCreateKeyExA(root, path.substr(5).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        key.Put(), nullptr);
    else
        RegOpenKeyExA(root, path.substr(5).c_str(), 0, KEY_READ, key.Put());
    return key;
}

void SetRaw(const std::string& key, const std::string& name, DWORD type, const void* data,
            DWORD size) {
    RegSetValueExA(OpenKey(key, true).Get(), name.c_str(), 0, type,
                   static_cast<const BYTE*>(data), size);
}

void DeleteValue(const std::string& key, const std::string& name) {
    RegDeleteValueA(OpenKey(key, true).Get(), name.c_str());
}

int ScriptsIn(const std::string& folder) {
    WIN32_FIND_DATAA data;
    qz::UniqueFind search(FindFirstFileA((folder + "\\*.bat").c_str(), &data));
    int count = search ? 1 : 0;
    while (search && FindNextFileA(search.Get(), &data)) ++count;
    return count;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return static_cast<LRESULT>(result);
}

}  // namespace

ProgramRun::ProgramRun() {
    static std::atomic<int> counter{0};
    id_ = "QzProgram-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

ProgramRun::~ProgramRun() {
    child_.Terminate();
    WaitUntil([this] { return ScriptsIn(X("{root}")) == 0; });
    DeleteKeyTree(HKEY_LOCAL_MACHINE, X(UninstallRoot).substr(5) + id_);
    DeleteKeyTree(HKEY_CURRENT_USER, X("{key}").substr(5));
    for (const std::string& path : shared_) DeleteValue(SharedDlls, path);
}

std::string ProgramRun::X(const std::string& text) const {
    const std::string root = root_.Path().substr(0, root_.Path().size() - 1);
    std::string result = Replace(Replace(text, "{app}", "{root}\\App"), "{rootrel}", root.substr(2));
    result = Replace(result, "{root}", root);
    result = Replace(result, "{key}", "HKCU\\Software\\QzTests\\{id}");
    return Replace(Replace(result, "{id}", id_), "{bin}", Folder(BinFolder()));
}

void ProgramRun::Stage(const std::string& sections, const std::string& log) {
    MakeFolders(X("{app}"));
    MakeFolders(Folder(X(log)));
    WriteFileBytes(X(log), Replace("[Strings]\nAppID=" + X(appId_) + "\n" + PageTexts +
                                       X(sections), "\n", "\r\n"));
    MakeFile(X(log).substr(0, X(log).size() - 4) + ".sss");
    Set(X(UninstallRoot) + id_ + "\\Details", "Kind", "subkey");
    const std::string text = X(sections);
    std::string section, line;
    for (size_t at = 0; at < text.size(); at += line.size() + 1) {
        line = text.substr(at, text.find('\n', at) - at);
        const std::string key = line.substr(0, line.rfind('=')), value = line.substr(key.size());
        const std::string name = key.substr(key.find_last_of("\\,") + 1);
        const std::string owner = key.substr(0, key.size() - name.size() - 1);
        if (line[0] == '[') section = line;
        if (line[0] == '[' || (key.find(X("{root}\\")) != 0 && key.find(X("{key}")) != 0) ||
            key.find("..") != std::string::npos)
            continue;
        if (section == "[CopyFiles]" || section == "[DataFiles]") MakeFile(key);
        if (section == "[Shortcuts]") MakeFile(key + ".lnk");
        if (section == "[CreateDirs]") MakeFolders(key);
        if (section == "[DataFolders]") MakeFile(key + "\\data.txt");
        if (section == "[AddReg]") Set(owner, name, "installed");
        if (section == "[CreateKeys]") OpenKey(key, true);
        if (section == "[SharedFiles]") Set(SharedDlls, key, std::stoul(value.substr(1)));
        if (section == "[SharedFiles]") shared_.push_back(key);
        if (section == "[AddIni]") {
            const std::string file = key.substr(0, key.find(',')), rest = key.substr(file.size() + 1);
            MakeFolders(Folder(file));
            WritePrivateProfileStringA(rest.substr(0, rest.find(',')).c_str(), name.c_str(),
                                       "installed", file.c_str());
        }
    }
    exe_ = X("{app}\\uninstall.exe");  // after the files, of which it may be one
    ASSERT_TRUE(CopyFileA((BinFolder() + "uninstall.exe").c_str(), exe_.c_str(), FALSE));
}

void ProgramRun::Set(const std::string& key, const std::string& name, const std::string& text) {
    SetRaw(X(key), name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void ProgramRun::Set(const std::string& key, const std::string& name, DWORD number) {
    SetRaw(X(key), name, REG_DWORD, &number, sizeof number);
}

std::string ProgramRun::Value(const std::string& key, const std::string& name) const {
    qz::UniqueKey opened = OpenKey(X(key), false);
    DWORD type = 0, size = 0;
    if (!opened ||
        RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return "-";
    std::string data(size, '\0');
    RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type,
                     reinterpret_cast<BYTE*>(&data[0]), &size);
    if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
    return type == REG_SZ ? std::string(data.c_str()) : data;
}

bool ProgramRun::KeyExists(const std::string& key) const { return OpenKey(X(key), false).Get() != nullptr; }

bool ProgramRun::Pending(const std::string& path) const {
    const std::string operations = Value(
        "HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "PendingFileRenameOperations");
    return operations.find(X(path) + '\0') != std::string::npos;
}

void ProgramRun::Start(const std::string& arguments) {
    seen_.clear();
    ASSERT_TRUE(child_.Start("\"" + exe_ + "\" " + X(arguments), X("{root}")));
}

HWND ProgramRun::Page(const std::string& caption, bool enabled) {
    HWND found = WaitForWindow([&]() -> HWND {
        for (HWND window : ProcessWindows(child_.Id(), "#32770"))
            if (WindowText(window) == caption && (!enabled || IsWindowEnabled(window)) &&
                std::find(seen_.begin(), seen_.end(), window) == seen_.end())
                return window;
        return child_.Running() ? nullptr : HWND_BOTTOM;  // any handle ends the wait
    });
    if (found && found != HWND_BOTTOM) {
        seen_.push_back(found);
        return found;
    }
    std::string shown;
    for (HWND window : ProcessWindows(child_.Id())) shown += " [" + WindowText(window) + "]";
    ADD_FAILURE() << "no window " << caption << (found ? ": the program ended" : " in time; shown:" + shown);
    child_.Terminate();  // every later wait fails at once
    return nullptr;
}

void ProgramRun::Next(std::initializer_list<const char*> pages) {
    for (const char* caption : pages)
        if (HWND page = Page(caption)) Click(page, IDC_NEXT);
}

void ProgramRun::Key(HWND page, WPARAM key) {
    WaitUntil([&] {
        const std::vector<HWND> dialogs = ProcessWindows(child_.Id(), "#32770");
        return dialogs.size() == 1 && dialogs[0] == page;
    });
    PostMessageA(GetDlgItem(page, IDC_NEXT), WM_KEYDOWN, key, 1);
}

void ProgramRun::PostUntilExit(WPARAM id) {
    WaitUntil([&] {
        for (HWND window : ProcessWindows(child_.Id(), "#32770")) Command(window, id);
        return !child_.Running();
    });
}

int ProgramRun::Exit() {
    if (!WaitUntil([this] { return !child_.Running(); })) child_.Terminate();
    return child_.Wait(0);
}

void ProgramRun::ExpectKept() {
    EXPECT_TRUE(KeyExists(UninstallRoot + id_ + "\\Details"));
    EXPECT_TRUE(Exists("{app}\\install.log"));
    EXPECT_TRUE(PathExists(exe_));
    EXPECT_EQ(ScriptsIn(X("{root}")), 0);
}

void ProgramRun::ExpectGone(const std::string& log) {
    EXPECT_FALSE(KeyExists(UninstallRoot + id_));
    EXPECT_FALSE(Exists(log));
    EXPECT_FALSE(Exists(log.substr(0, log.size() - 4) + ".sss"));
    EXPECT_TRUE(WaitUntil([this] { return !Exists("{app}") && ScriptsIn(X("{root}")) == 0; }))
        << "the program's folder or its removal script is still there";
}

void Click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void Command(HWND dialog, WPARAM id) { PostMessageA(dialog, WM_COMMAND, id, 0); }


std::string Text(HWND dialog, int id) {
    std::string text(1024, '\0');
    text.resize(static_cast<size_t>(Send(GetDlgItem(dialog, id), WM_GETTEXT, text.size(),
                                         reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

void SetText(HWND dialog, int id, const std::string& text) {
    Send(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool Checked(HWND dialog, int id) { return Send(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

}  // namespace test
