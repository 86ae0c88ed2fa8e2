#include "TestSupport.h"

#include <atomic>

namespace test {

std::string BinFolder() {
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string HelperProgram(const std::string& name) { return BinFolder() + name + ".exe"; }

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string ReadFileBytes(const std::string& path) {
    qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& folder) {
    std::string base = folder.back() == '\\' ? folder : folder + '\\';
    WIN32_FIND_DATAA data;
    qz::UniqueFind search(FindFirstFileA((base + "*").c_str(), &data));
    if (search) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = base + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            bool folderEntry = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                               !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
            if (folderEntry)
                RemoveTree(path);
            else if (!DeleteFileA(path.c_str()))
                RemoveDirectoryA(path.c_str());
        } while (FindNextFileA(search.Get(), &data));
    }
    search.Reset();
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(base.substr(0, base.size() - 1).c_str());
}

namespace {

void MakeFolders(const std::string& path) {
    for (size_t pos = 3; (pos = path.find('\\', pos)) != std::string::npos; ++pos)
        CreateDirectoryA(path.substr(0, pos).c_str(), nullptr);
}

}  // namespace

TempFolder::TempFolder(const std::string& name) {
    static std::atomic<int> counter{0};
    path_ = "C:\\qztests\\" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter) + "\\";
    RemoveTree(path_);
    MakeFolders(path_);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

std::string TempFolder::Write(const std::string& relative, const std::string& bytes) {
    std::string path = path_ + relative;
    MakeFolders(path);
    WriteFileBytes(path, bytes);
    return path;
}

ChildProcess::~ChildProcess() { Terminate(); }

bool ChildProcess::Start(const std::string& commandLine, const std::string& directory) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        return false;
    qz::UniqueHandle thread(info.hThread);
    process_.Reset(info.hProcess);
    id_ = info.dwProcessId;
    return true;
}

int ChildProcess::Wait(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<int>(code);
}

bool ChildProcess::Running() const {
    return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Terminate() {
    if (Running()) {
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 10000);
    }
}

HeldFile::HeldFile(const std::string& path, DWORD shareMode) {
    std::string ready = path + ".held";
    DeleteFileA(ready.c_str());
    std::string line = "\"" + HelperProgram("holdfile") + "\" \"" + path + "\" " +
                       std::to_string(shareMode);
    held_ = holder_.Start(line) && WaitUntil([&] { return PathExists(ready) || !holder_.Running(); }) &&
            holder_.Running();
    DeleteFileA(ready.c_str());
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

HWND WaitForWindow(const std::function<HWND()>& finder, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = finder()) != nullptr; }, timeoutMs);
    return found;
}

namespace {

struct WindowQuery {
    DWORD processId;
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    auto* query = reinterpret_cast<WindowQuery*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != query->processId || !IsWindowVisible(window)) return TRUE;
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    if (!query->className || lstrcmpiA(name, query->className) == 0) query->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM parameter) {
    char name[64] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0) *reinterpret_cast<std::string*>(parameter) += WindowText(child);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(DWORD processId, const char* className) {
    WindowQuery query{processId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(window, &text[0], length + 1)));
    return text;
}

std::string StaticTexts(HWND window) {
    std::string text;
    EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

MessageCounter::MessageCounter(UINT message) : message_(message) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QzTestMessageCounter";
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
    window_.Reset(CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, windowClass.hInstance, nullptr));
    SetWindowLongPtrA(window_.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

LRESULT CALLBACK MessageCounter::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* counter = reinterpret_cast<MessageCounter*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (counter && message == counter->message_) ++counter->count_;
    return DefWindowProcA(window, message, wParam, lParam);
}

void DeleteKeyTree(HKEY root, const std::string& subkey) {
    qz::UniqueKey key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS, key.Put()) != ERROR_SUCCESS) return;
    char name[1024];
    for (DWORD length = sizeof name;
         RegEnumKeyExA(key.Get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         length = sizeof name)
        DeleteKeyTree(key.Get(), name);
    key.Reset();
    RegDeleteKeyA(root, subkey.c_str());
}

}  // namespace test
