#include "Installation.h"

#include <shlobj.h>

#include <cstring>
#include <memory>

#include "Globals.h"
#include "qzRegIni.h"

namespace test {

const char* const StatusStrings =
    "[Strings]\r\n10=10:%s\r\n11=11:%s\r\n12=12:%s\r\n13=13:%s\r\n14=14:%s\r\n15=15:%s\r\n"
    "16=16:%s\r\n17=17:%s\r\n18=18:%s\r\n19=19:%s\r\n";

namespace {

const char PendingKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char PendingValue[] = "PendingFileRenameOperations";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t pos = 0; (pos = text.find(from, pos)) != std::string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.data(),
                          static_cast<int>(prefix.size()), prefix.data(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(Trimmed(text.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t pos; (pos = text.find(separator, start)) != std::string::npos; start = pos + 1)
        parts.push_back(text.substr(start, pos - start));
    parts.push_back(text.substr(start));
    return parts;
}

void MakeFolders(const std::string& folder) {
    std::string path = folder.back() == '\\' ? folder : folder + '\\';
    for (size_t pos = 3; (pos = path.find('\\', pos)) != std::string::npos; ++pos)
        CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
}

std::string ParentOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string WithExtension(const std::string& path, const std::string& extension) {
    size_t dot = path.find_last_of('.');
    size_t slash = path.find_last_of('\\');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

void SplitKey(const std::string& key, HKEY& root, std::string& subkey) {
    size_t slash = key.find('\\');
    std::string rootName = key.substr(0, slash);
    subkey = slash == std::string::npos ? std::string() : key.substr(slash + 1);
    if (SameNoCase(rootName, "HKLM")) root = HKEY_LOCAL_MACHINE;
    else if (SameNoCase(rootName, "HKCR")) root = HKEY_CLASSES_ROOT;
    else if (SameNoCase(rootName, "HKU")) root = HKEY_USERS;
    else root = HKEY_CURRENT_USER;
}

qz::UniqueKey OpenKey(const std::string& key, REGSAM access) {
    HKEY root;
    std::string subkey;
    SplitKey(key, root, subkey);
    qz::UniqueKey opened;
    RegOpenKeyExA(root, subkey.c_str(), 0, access, opened.Put());
    return opened;
}

qz::UniqueKey CreateKey(const std::string& key) {
    HKEY root;
    std::string subkey;
    SplitKey(key, root, subkey);
    qz::UniqueKey created;
    RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created.Put(),
                    nullptr);
    return created;
}

void DeleteKeyTree(HKEY parent, const std::string& subkey) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS) return;
    char name[1024];
    for (;;) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DeleteKeyTree(key.Get(), name);
    }
    key.Reset();
    RegDeleteKeyA(parent, subkey.c_str());
}

// The AddReg name split the simple way the tests write it: a value name in single quotes
// after the last "\'", else the text after the last backslash.
void SplitValuePath(const std::string& path, std::string& key, std::string& name) {
    size_t quoted = path.size() > 1 && path.back() == '\'' ? path.rfind("\\'", path.size() - 2)
                                                           : std::string::npos;
    if (quoted != std::string::npos) {
        key = path.substr(0, quoted);
        name = Replace(path.substr(quoted + 2, path.size() - quoted - 3), "''", "'");
        return;
    }
    size_t slash = path.find_last_of('\\');
    key = path.substr(0, slash);
    name = path.substr(slash + 1);
}

// The pending boot-time operations as (source, destination) pairs, without the "\??\"
// prefix of the sources.
std::vector<std::pair<std::string, std::string>> PendingOperations(const RegValue& value) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> strings = Split(value.data, '\0');  // destinations may be empty
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        std::string source = strings[i];
        if (source.compare(0, 4, "\\??\\") == 0) source.erase(0, 4);
        pairs.emplace_back(source, strings[i + 1]);
    }
    return pairs;
}

RegValue ReadValue(HKEY key, const std::string& name) {
    RegValue value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return value;
    value.data.resize(size);
    value.exists = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                                    reinterpret_cast<BYTE*>(&value.data[0]), &size) == ERROR_SUCCESS;
    value.data.resize(size);
    return value;
}

// Removes the boot-time deletions of files below the folder (left by tests of files in use).
void ForgetPendingDeletions(const std::string& folder) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
        return;
    RegValue value = ReadValue(key.Get(), PendingValue);
    if (!value.exists) return;
    std::string kept;
    bool changed = false;
    for (const auto& pair : PendingOperations(value)) {
        if (StartsWithNoCase(pair.first, folder)) {
            changed = true;
            continue;
        }
        kept += "\\??\\" + pair.first + '\0' + pair.second + '\0';
    }
    if (!changed) return;
    if (kept.empty()) {
        RegDeleteValueA(key.Get(), PendingValue);
        return;
    }
    kept += '\0';
    RegSetValueExA(key.Get(), PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>(kept.size()));
}

using WineUnixName = char*(CDECL*)(const WCHAR*);

// The Unix path of a path in the prefix, through Wine's own export; "" elsewhere.
std::string UnixPath(const std::string& path) {
    auto convert = reinterpret_cast<WineUnixName>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!convert) return std::string();
    std::wstring wide(path.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0],
                                                        static_cast<int>(wide.size()))));
    char* unix = convert(wide.c_str());
    if (!unix) return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

}  // namespace

std::string RegValue::Text() const {
    std::string text = data;
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

DWORD RegValue::Number() const {
    DWORD number = 0;
    if (data.size() == sizeof number) memcpy(&number, data.data(), sizeof number);
    return number;
}

std::vector<std::string> RegValue::Strings() const {
    std::vector<std::string> strings;
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\0', start);
        if (end == std::string::npos) end = data.size();
        if (end == start) break;
        strings.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

Installation::Installation(const std::string& logText, const std::string& name) : temp_(name) {
    root_ = temp_.Path().substr(0, temp_.Path().size() - 1);
    id_ = root_.substr(root_.find_last_of('\\') + 1);
    app_ = root_ + "\\App";
    log_ = app_ + "\\install.log";
    hklm_ = "HKLM\\Software\\QzTests\\" + id_;
    hkcu_ = "HKCU\\Software\\QzTests\\" + id_;
    MakeFolders(app_);

    ReleaseAllIniFiles();
    LogPath = log_;
    SectionLines = std::make_unique<TStringList>();
    KeptSharedFiles = std::make_unique<TStringList>();
    RestartNeeded = false;
    RemoveDataFiles = true;
    Stage(Expand(logText));
}

Installation::~Installation() {
    // Windows cannot remove a Unix link without touching its target; Unix can.
    for (const std::string& link : links_) {
        ChildProcess rm;
        if (rm.Start("Z:\\bin\\rm -f \"" + UnixPath(link) + "\""))
            WaitUntil([&] { return !PathExists(link); }, 20000);
    }
    ReleaseAllIniFiles();
    LogPath.clear();
    SectionLines.reset();
    KeptSharedFiles.reset();
    RestartNeeded = false;
    RemoveDataFiles = true;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        DeleteKeyTree(root, "Software\\QzTests\\" + id_);
        RegDeleteKeyA(root, "Software\\QzTests");  // only when no other test's key is left
    }
    ForgetPendingDeletions(root_ + "\\");
}

std::string Installation::Expand(const std::string& text) const {
    std::string expanded = Replace(text, "{app}", app_);
    expanded = Replace(expanded, "{root}", root_);
    expanded = Replace(expanded, "{hklm}", hklm_);
    return Replace(expanded, "{hkcu}", hkcu_);
}

bool Installation::Ours(const std::string& path) const {
    return StartsWithNoCase(path, root_ + "\\");
}

bool Installation::OurKey(const std::string& key) const {
    return StartsWithNoCase(key, hklm_) || StartsWithNoCase(key, hkcu_);
}

void Installation::Stage(const std::string& logText) {
    WriteFileBytes(log_, logText);
    std::string section;
    for (const std::string& line : Lines(logText)) {
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        if (line.find('=') != std::string::npos) StageSectionLine(section, line);
    }
}

void Installation::StageSectionLine(const std::string& section, const std::string& line) {
    const std::string key = Trimmed(line.substr(0, line.rfind('=')));
    const std::string name = Trimmed(line.substr(0, line.find('=')));
    if (SameNoCase(section, "CopyFiles") || SameNoCase(section, "DataFiles")) {
        if (!Ours(key) || key.find_first_of("*?") != std::string::npos) return;
        File(key);
        if (key.size() > 4 && SameNoCase(key.substr(key.size() - 4), ".hlp")) {
            File(WithExtension(key, ".gid"), FILE_ATTRIBUTE_HIDDEN);
            File(WithExtension(key, ".fts"));
        }
    } else if (SameNoCase(section, "Shortcuts")) {
        if (!Ours(key)) return;
        File(WithExtension(key, ".lnk"));
        File(WithExtension(key, ".pif"));
    } else if (SameNoCase(section, "DataFolders")) {
        if (!Ours(key)) return;
        File(key + "\\data.txt");
        File(key + "\\readonly.txt", FILE_ATTRIBUTE_READONLY);
        File(key + "\\sub\\hidden.dat", FILE_ATTRIBUTE_HIDDEN);
        File(key + "\\sub\\deeper\\deep.txt");
    } else if (SameNoCase(section, "CreateDirs")) {
        if (Ours(key)) Folder(key);
    } else if (SameNoCase(section, "AddReg")) {
        std::string valueKey, valueName;
        SplitValuePath(name, valueKey, valueName);
        if (OurKey(valueKey)) SetValue(valueKey, valueName, REG_SZ, std::string("installed") + '\0');
    } else if (SameNoCase(section, "CreateKeys")) {
        if (OurKey(key)) CreateKey(key);
    } else if (SameNoCase(section, "AddIni")) {
        std::vector<std::string> fields = Split(name, ',');
        if (fields.size() < 3 || !Ours(fields[0])) return;
        std::string text = FileExists(fields[0]) ? ReadFileBytes(fields[0]) : std::string();
        text += "[" + fields[1] + "]\r\n" + fields[2] + "=installed\r\n";
        File(fields[0], 0, text);
    }
}

std::string Installation::File(const std::string& path, DWORD attributes, const std::string& bytes) {
    std::string expanded = Expand(path);
    MakeFolders(ParentOf(expanded));
    SetFileAttributesA(expanded.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteFileBytes(expanded, bytes);
    if (attributes) SetFileAttributesA(expanded.c_str(), attributes);
    return expanded;
}

std::string Installation::Folder(const std::string& path) {
    std::string expanded = Expand(path);
    MakeFolders(expanded);
    return expanded;
}

bool Installation::Link(const std::string& link, const std::string& target) {
    std::string unixLink = UnixPath(Expand(link));
    std::string unixTarget = UnixPath(Expand(target));
    if (unixLink.empty() || unixTarget.empty()) return false;
    // Wine starts Unix programs, but gives no handle to wait on: wait for the link instead.
    ChildProcess ln;
    if (!ln.Start("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") ||
        !WaitUntil([&] { return PathExists(Expand(link)); }, 20000))
        return false;
    links_.push_back(Expand(link));
    return true;
}

void Installation::SetValue(const std::string& key, const std::string& name, DWORD type,
                            const std::string& bytes) {
    qz::UniqueKey created = CreateKey(Expand(key));
    RegSetValueExA(created.Get(), Expand(name).c_str(), 0, type,
                   reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
}

bool Installation::FileExists(const std::string& path) const {
    DWORD attributes = GetFileAttributesA(Expand(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Installation::FolderExists(const std::string& path) const {
    DWORD attributes = GetFileAttributesA(Expand(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Installation::KeyExists(const std::string& key) const {
    return OpenKey(Expand(key), KEY_READ).Valid();
}

RegValue Installation::Value(const std::string& key, const std::string& name) const {
    qz::UniqueKey opened = OpenKey(Expand(key), KEY_READ);
    return opened ? ReadValue(opened.Get(), Expand(name)) : RegValue();
}

bool Installation::IniValue(const std::string& file, const std::string& section,
                            const std::string& key, std::string& value) const {
    std::string path = Expand(file);
    if (!FileExists(path)) return false;
    bool inSection = false;
    for (const std::string& line : Lines(ReadFileBytes(path))) {
        if (!line.empty() && line[0] == '[') {
            inSection = SameNoCase(line, "[" + section + "]");
            continue;
        }
        size_t equals = line.find('=');
        if (inSection && equals != std::string::npos && SameNoCase(Trimmed(line.substr(0, equals)), key)) {
            value = Trimmed(line.substr(equals + 1));
            return true;
        }
    }
    return false;
}

bool Installation::DeletionPending(const std::string& path) const {
    qz::UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    std::string expanded = Expand(path);
    for (const auto& pair : PendingOperations(ReadValue(key.Get(), PendingValue)))
        if (pair.second.empty() && SameNoCase(pair.first, expanded)) return true;
    return false;
}

std::string ShellFolder(int csidl) {
    char buffer[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, 0, buffer);
    return buffer;
}

CurrentFolder::CurrentFolder(const std::string& folder) {
    char buffer[MAX_PATH] = "";
    previous_.assign(buffer, GetCurrentDirectoryA(MAX_PATH, buffer));
    SetCurrentDirectoryA(folder.c_str());
}

CurrentFolder::~CurrentFolder() { SetCurrentDirectoryA(previous_.c_str()); }

namespace {

const char RecorderClass[] = "QzTestProgressRecorder";

void RegisterRecorderClass(WNDPROC proc) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = RecorderClass;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
}

}  // namespace

ProgressRecorder::ProgressRecorder() : previousPage_(CurrentPage) {
    RegisterRecorderClass(RecordProc);
    page_.Reset(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr));
    for (int id : {105, 106}) {
        HWND control = CreateWindowExA(0, RecorderClass, "", WS_CHILD, 0, 0, 10, 10, page_.Get(),
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(control, GWLP_USERDATA, id == 105 ? reinterpret_cast<LONG_PTR>(this) : 0);
    }
    CurrentPage = page_.Get();
    StepsDone = 0;
    StepsTotal = 1000;
}

ProgressRecorder::~ProgressRecorder() {
    CurrentPage = previousPage_;
    StepsDone = 0;
    StepsTotal = 0;
}

int ProgressRecorder::Steps() const { return StepsDone; }

void ProgressRecorder::Clear() {
    texts_.clear();
    StepsDone = 0;
}

LRESULT CALLBACK ProgressRecorder::RecordProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* recorder = reinterpret_cast<ProgressRecorder*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_SETTEXT && recorder)
        recorder->texts_.push_back(lParam ? reinterpret_cast<const char*>(lParam) : "");
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace test
