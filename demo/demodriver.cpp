// Drives a program's dialogs for the demonstration: starts the program, and for every new
// dialog window it shows (wizard page, message box, prompt) saves a screenshot, prints the
// window's texts and performs the next action.
//
//   demodriver.exe SHOT_FOLDER "PROGRAM COMMAND LINE" ACTION...
//
// An action is a list of control ids separated by "+": each is clicked in turn (BM_CLICK on
// a button child, or WM_COMMAND with that id when there is no such child). "wait" leaves
// the window alone until it is gone or another one appears. Screenshots are 24-bit BMP files
// NN-caption.bmp. Prints the exit code of the program and exits with it.
#include <windows.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "qzHandles.h"

namespace {

std::string Text(HWND window) {
    char buffer[4096] = "";
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

struct Search {
    DWORD processId;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (owner == search->processId && IsWindowVisible(window) && lstrcmpA(name, "#32770") == 0)
        search->dialogs.push_back(window);
    return TRUE;
}

// Bottom of the Z order first: a page comes before the prompt it owns when both appeared
// since the last look, so that the actions go to the windows in the order they came.
std::vector<HWND> Dialogs(DWORD processId) {
    Search search{processId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return std::vector<HWND>(search.dialogs.rbegin(), search.dialogs.rend());
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    std::string text = Text(child);
    if (IsWindowVisible(child) && !text.empty())
        std::printf("    [%d] %s\n", GetDlgCtrlID(child), text.c_str());
    return TRUE;
}

// Shots are numbered on from those already in the folder, so that several runs add up.
unsigned CountShots(const std::string& folder) {
    WIN32_FIND_DATAA data;
    qz::UniqueFind search(FindFirstFileA((folder + "\\*.bmp").c_str(), &data));
    unsigned count = 0;
    if (search) do ++count; while (FindNextFileA(search.Get(), &data));
    return count;
}

std::string SafeName(const std::string& text) {
    std::string name;
    for (char c : text) name += (isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return name.substr(0, 40);
}

void SaveScreenshot(HWND window, const std::string& path) {
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    qz::WindowDc screen(nullptr);
    qz::UniqueMemoryDc memory(CreateCompatibleDC(screen.Get()));
    qz::UniqueGdiObject bitmap(CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!memory || !bitmap) return;
    {
        qz::SelectGuard select(memory.Get(), bitmap.Get());
        BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), rect.left, rect.top, SRCCOPY);
    }
    GdiFlush();
    DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + rowBytes * height;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&header, sizeof header, 1, file);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file);
        std::fwrite(bits, rowBytes, height, file);
        std::fclose(file);
    }
}

void Click(HWND window, int id) {
    HWND control = GetDlgItem(window, id);
    if (control)
        SendMessageA(control, BM_CLICK, 0, 0);
    else
        PostMessageA(window, WM_COMMAND, id, 0);
}

void Perform(HWND window, const std::string& action) {
    if (action == "wait") return;
    size_t start = 0;
    while (start <= action.size()) {
        size_t end = action.find('+', start);
        if (end == std::string::npos) end = action.size();
        Click(window, std::atoi(action.substr(start, end - start).c_str()));
        start = end + 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: demodriver SHOT_FOLDER \"COMMAND LINE\" ACTION...\n");
        return 2;
    }
    std::string shots = argv[1], commandLine = argv[2];
    std::vector<std::string> actions(argv + 3, argv + argc);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("cannot start %s\n", argv[2]);
        return 1;
    }
    qz::UniqueHandle thread(process.hThread), child(process.hProcess);

    std::set<HWND> seen;
    unsigned shotNumber = CountShots(shots);
    size_t next = 0;
    DWORD deadline = GetTickCount() + 180000;
    while (WaitForSingleObject(child.Get(), 100) == WAIT_TIMEOUT) {
        if (GetTickCount() > deadline) {
            std::printf("time-out: program terminated\n");
            TerminateProcess(child.Get(), 1);
            break;
        }
        // A destroyed window's handle value may come back for a new window.
        for (auto it = seen.begin(); it != seen.end();) it = IsWindow(*it) ? std::next(it) : seen.erase(it);
        // A page's first act may show a prompt before the page itself is visible: new windows
        // are given time to settle, then taken bottom first.
        std::vector<HWND> dialogs = Dialogs(process.dwProcessId);
        for (HWND dialog : dialogs) {
            if (seen.count(dialog)) continue;
            Sleep(400);
            dialogs = Dialogs(process.dwProcessId);
            break;
        }
        for (HWND dialog : dialogs) {
            if (seen.count(dialog)) continue;
            seen.insert(dialog);
            Sleep(400);  // let the window paint itself before the picture is taken
            std::string caption = Text(dialog);
            char name[MAX_PATH];
            std::snprintf(name, sizeof name, "%s\\%02u-%s.bmp", shots.c_str(), ++shotNumber,
                          SafeName(caption).c_str());
            SaveScreenshot(dialog, name);
            std::printf("window \"%s\"\n", caption.c_str());
            EnumChildWindows(dialog, PrintChild, 0);
            std::fflush(stdout);
            Perform(dialog, next < actions.size() ? actions[next++] : "2");
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(child.Get(), &code);
    std::printf("exit code %lu\n", static_cast<unsigned long>(code));
    return static_cast<int>(code);
}
