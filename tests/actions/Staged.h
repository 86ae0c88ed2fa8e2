// One staged installation for the removal actions, run in this process: from a log text it
// creates what an installer would have left behind, makes that log the program's state
// (InitProcessState), takes the progress reports (texts, steps) and reads the machine state
// item by item. While it lives, {root} is the current folder. Its folder and keys go at its end.
//
// Placeholders in every text: {root} the staging folder, {app} its App folder (which holds
// install.log), {id} the folder's unique name, {hkcu} and {hklm} this installation's keys,
// {bin} the folder of the test programs. "\n" becomes "\r\n". A log without [Strings] gets
// status formats "10:%s" ... "19:%s" and texts for the shared-file prompt. Only lines without
// a NUL stage anything, and only below {root} (without "\.", quotes or wildcards) or the keys:
//   CopyFiles, DataFiles  the file of each key;  Shortcuts  KEY.lnk and KEY.pif
//   DataFolders           a tree with a read-only, a hidden dot file and a deep system file
//   CreateDirs            the folder;  CreateKeys  the key
//   AddReg                the value "installed" (its name after the last backslash)
//   AddIni                "key=installed" in the section of the file
//   SharedFiles           a SharedDLLs counter when the value is a number and the key holds {id}
// Items: a path (file or folder); "KEY" or "KEY|value name" (HKLM\..., HKCU\...); "FILE|section|key".
#pragma once

#include <windows.h>


#include "Globals.h"
#include "Progress.h"
#include "TestSupport.h"
#include "qzRegIni.h"
#include "qzWinUtils.h"

namespace act {

using Items = std::vector<std::string>;
inline const std::string Missing = "<missing>", Nul(1, '\0');
inline const std::string SharedDlls = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs|";
inline const std::string NtFonts = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts|";
inline std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

inline Items Split(const std::string& text, const std::string& separator) {
    Items parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    return parts.push_back(text.substr(start)), parts;
}

inline void MakeFolders(const std::string& path) {
    for (size_t at = 3; (at = path.find('\\', at)) != std::string::npos; ++at) CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

inline qz::UniqueKey OpenKey(const std::string& path, bool create = false) {  // "HKLM\\..." or "HKCU\\..."
    HKEY root = path.rfind("HKLM", 0) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::string subkey = path.substr(path.find('\\') + 1);
    qz::UniqueKey key;
    if (create) RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    else RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.Put());
    return key;
}

class Staged final : public ProgressSink {
public:
    explicit Staged(const std::string& log)
        : temp_("act"), root_(temp_.Path().substr(0, temp_.Path().size() - 1)), id_(root_.substr(root_.rfind('\\') + 1)) {
        const std::string text = X(Replace((log.find("[Strings]") == std::string::npos ? DefaultTexts : "") + log, "\n", "\r\n"));
        File("{app}\\install.log", 0, text);
        std::string section;
        for (const std::string& line : Split(text, "\r\n"))
            if (!line.empty() && line[0] == '[') section = line.substr(1, line.find(']') - 1);
            else if (line.find('\0') == std::string::npos && line.find('=') != std::string::npos) StageLine(section, line);
        InitProcessState(X("{app}\\"), X("{app}\\install.log"));
        SetProgressSink(this);
        previousFolder_.resize(GetCurrentDirectoryA(MAX_PATH, &previousFolder_[0]));
        SetCurrentDirectoryA(root_.c_str());
    }
    ~Staged() {
        SetProgressSink(nullptr);
        ResetProcessState();
        ReleaseAllIniFiles();
        MainWindow = nullptr;
        SetCurrentDirectoryA(previousFolder_.c_str());
        for (const std::string& link : links_) Unix("rm -f", {link});  // Windows cannot remove it
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) test::DeleteKeyTree(root, "Software\\QzTests\\" + id_);
    }
    std::string X(const std::string& text) const {
        std::string x = Replace(Replace(Replace(text, "{app}", "{root}\\App"), "{root}", root_), "{id}", id_);
        x = Replace(Replace(x, "{hkcu}", "HKCU\\Software\\QzTests\\" + id_), "{hklm}", "HKLM\\Software\\QzTests\\" + id_);
        return Replace(x, "{bin}", test::BinFolder().substr(0, test::BinFolder().size() - 1));
    }
    Items X(Items texts) const {
        for (std::string& text : texts) text = X(text);
        return texts;
    }
    std::string File(const std::string& path, DWORD attributes = 0, const std::string& bytes = "x") const {
        const std::string file = X(path);
        MakeFolders(file);
        test::WriteFileBytes(file, bytes);
        SetFileAttributesA(file.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
        return file;
    }
    // Creates the key, and sets the value of an item with "|" (a REG_SZ text gets its NUL).
    void Set(const std::string& item, const std::string& bytes, DWORD type = REG_SZ) const {
        const Items parts = Split(X(item), "|");
        const std::string data = type == REG_SZ ? bytes + '\0' : bytes;
        if (qz::UniqueKey key = OpenKey(parts[0], true); parts.size() > 1)
            RegSetValueExA(key.Get(), parts[1].c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), data.size());
    }
    // "" for a file, folder or key that is there; "TYPE:DATA" for a value (a REG_DWORD as a
    // number, the NULs of a text as "|"); an INI entry's text; Missing for what is not there.
    std::string State(const std::string& item) const {
        const Items parts = Split(X(item), "|");
        std::string data(65536, '\1');
        DWORD type = 0, size = static_cast<DWORD>(data.size());
        if (parts[0].rfind("HK", 0) != 0 && parts.size() == 1) return test::PathExists(parts[0]) ? "" : Missing;
        if (parts[0].rfind("HK", 0) != 0) {
            GetPrivateProfileStringA(parts[1].c_str(), parts[2].c_str(), "\1", &data[0], size, parts[0].c_str());
            return data[0] == '\1' ? Missing : data.c_str();
        }
        qz::UniqueKey key = OpenKey(parts[0]);
        if (!key || parts.size() == 1) return key ? "" : Missing;
        if (RegQueryValueExA(key.Get(), parts[1].c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size)) return Missing;
        if (type == REG_DWORD) return "4:" + std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
        for (data.resize(size); type != REG_BINARY && !data.empty() && data.back() == '\0';) data.pop_back();
        return std::to_string(type) + ":" + (type == REG_BINARY ? data : Replace(data, Nul, "|"));
    }
    Items States(const Items& items) const {
        Items states;
        for (const std::string& item : items) states.push_back(State(item));
        return states;
    }
    // What is wrong: gone items that are there, kept items that are not ("" when all is well).
    std::string Check(const Items& gone, const Items& kept) const {
        std::string wrong;
        for (const std::string& item : gone) wrong += State(item) != Missing ? "still there: " + X(item) + "\n" : "";
        for (const std::string& item : kept) wrong += State(item) == Missing ? "gone: " + X(item) + "\n" : "";
        return wrong;
    }
    bool DeletionPending(const std::string& path) const {  // at the next boot, NT family: no new name
        const std::string pending = State("HKLM\\System\\CurrentControlSet\\Control\\Session Manager|PendingFileRenameOperations");
        return (pending + "||").find("\\??\\" + X(path) + "||") != std::string::npos;
    }
    bool Link(const std::string& link, const std::string& target) {  // a Unix symbolic link
        links_.push_back(X(link));
        return Unix("ln -s", {X(target), X(link)}) && test::WaitUntil([&] { return test::PathExists(X(link)); });
    }
    void Status(const std::string& text) override { texts.push_back(text); }
    void Step() override { ++steps; }
    void Stage() override {}
    Items texts;
    int steps = 0;

private:
    static constexpr char DefaultTexts[] = "[Strings]\n10=10:%s\n11=11:%s\n12=12:%s\n13=13:%s\n14=14:%s\n15=15:%s\n"
        "16=16:%s\n17=17:%s\n18=18:%s\n19=19:%s\n[Dialog.DLG_DELSHARED]\nCaption=Shared file found\n101=Remove it?\n";
    bool Ours(const std::string& path) const {
        const bool below = !path.rfind(root_ + "\\", 0) || !path.rfind(X("{hkcu}\\"), 0) || !path.rfind(X("{hklm}\\"), 0);
        return below && path.find("\\.") == std::string::npos && path.find_first_of("'\"*?") == std::string::npos;
    }
    void StageLine(const std::string& section, const std::string& line) const {
        const std::string key = line.substr(0, line.rfind('=')), name = line.substr(0, line.find('='));
        const std::string value = line.substr(line.rfind('=') + 1), valueKey = name.substr(0, name.rfind('\\'));
        const Items fields = Split(name, ",");
        if ((section == "CopyFiles" || section == "DataFiles") && Ours(key)) File(key);
        if (section == "Shortcuts" && Ours(key)) File(key + ".lnk"), File(key + ".pif");
        if (section == "DataFolders" && Ours(key)) {
            File(key + "\\data.txt", FILE_ATTRIBUTE_READONLY), File(key + "\\.hidden", FILE_ATTRIBUTE_HIDDEN);
            File(key + "\\sub\\deeper\\deep.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
        }
        if (section == "CreateDirs" && Ours(key)) MakeFolders(key + "\\");
        if (section == "CreateKeys" && Ours(key)) Set(key, "");
        if (section == "AddReg" && Ours(name)) Set(valueKey + "|" + name.substr(valueKey.size() + 1), "installed");
        if (section == "AddIni" && fields.size() == 3 && Ours(name)) {
            if (!test::PathExists(fields[0])) File(fields[0], 0, "");
            WritePrivateProfileStringA(fields[1].c_str(), fields[2].c_str(), "installed", fields[0].c_str());
        }
        if (section == "SharedFiles" && key.find(id_) != std::string::npos && value.find_first_not_of("0123456789") == std::string::npos)
            Set(SharedDlls + key, Dword(std::stoul(value)), REG_DWORD);
    }
    // Starts a program of C:\qzbin\unix on the Unix forms of prefix paths (ASCII paths).
    static bool Unix(const std::string& command, const Items& paths) {
        auto convert = reinterpret_cast<char*(CDECL*)(const WCHAR*)>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
        std::string line = test::BinFolder() + "unix\\" + command;
        for (const std::string& path : paths) {
            char* unix = convert(std::wstring(path.begin(), path.end()).c_str());
            line += std::string(" \"") + unix + "\"", HeapFree(GetProcessHeap(), 0, unix);
        }
        test::ChildProcess child;  // Wine gives no handle to wait on: the callers wait for the result
        return child.Start(line);
    }
    test::TempFolder temp_;
    std::string root_, id_, previousFolder_ = std::string(MAX_PATH, '\0');
    Items links_;
};

// Answers the dialogs and message boxes of this process from a second thread, one after
// another: the n-th gets the n-th reply (a control id, clicked; IDCANCEL beyond the list).
// Each is recorded as "caption|static texts|the prompt's file|its folder", with "|modal"
// when it disabled its owner.
class Answerer {
public:
    explicit Answerer(std::vector<int> replies)
        : replies_(std::move(replies)), thread_(CreateThread(nullptr, 0, Start, this, 0, nullptr)) {}
    ~Answerer() { Texts(); }
    const Items& Texts() {
        stop_ = true;
        if (thread_) WaitForSingleObject(thread_.Get(), INFINITE);
        return texts_;
    }

private:
    static DWORD WINAPI Start(LPVOID self) {
        static_cast<Answerer*>(self)->Run(static_cast<Answerer*>(self)->replies_);
        return 0;
    }
    void Run(const std::vector<int>& replies) {
        for (HWND box = nullptr, last = nullptr; !stop_;) {
            test::WaitUntil([&] {
                const std::vector<HWND> boxes = test::ProcessWindows(GetCurrentProcessId(), "#32770");
                return stop_ || (!boxes.empty() && (box = boxes.front()) != last);
            });
            if (stop_ || box == last) continue;
            HWND owner = GetWindow(last = box, GW_OWNER);
            texts_.push_back(test::WindowText(box) + "|" + test::StaticTexts(box) + "|" + test::WindowText(GetDlgItem(box, 104)) +
                             "|" + test::WindowText(GetDlgItem(box, 106)) + (owner && !IsWindowEnabled(owner) ? "|modal" : ""));
            const int reply = texts_.size() <= replies.size() ? replies[texts_.size() - 1] : IDCANCEL;
            if (HWND button = GetDlgItem(box, reply)) PostMessageA(button, BM_CLICK, 0, 0);
            else PostMessageA(box, WM_COMMAND, reply, 0);
        }
    }
    std::vector<int> replies_;
    std::atomic<bool> stop_{false};
    Items texts_;
    qz::UniqueHandle thread_;
};

}  // namespace act
