#include "SafePaths.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// The folders that are protected together with everything above them, each in its long
// and in its short spelling, upper-cased, without a trailing backslash.
struct TProtectedFolders {
    std::vector<std::string> folders;
    std::vector<std::string> profileParents;  // every folder directly inside is a profile
};

const int ShellFolders[] = {
    CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_STARTUP,
    CSIDL_RECENT, CSIDL_SENDTO, CSIDL_STARTMENU, CSIDL_MYMUSIC, CSIDL_MYVIDEO, CSIDL_NETHOOD,
    CSIDL_FONTS, CSIDL_TEMPLATES, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTUP, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_APPDATA, CSIDL_PRINTHOOD,
    CSIDL_LOCAL_APPDATA, CSIDL_ALTSTARTUP, CSIDL_COMMON_ALTSTARTUP, CSIDL_COMMON_FAVORITES,
    CSIDL_INTERNET_CACHE, CSIDL_COOKIES, CSIDL_HISTORY, CSIDL_COMMON_APPDATA, CSIDL_WINDOWS,
    CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_MYPICTURES, CSIDL_PROFILE, CSIDL_SYSTEMX86,
    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_TEMPLATES, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_ADMINTOOLS, CSIDL_ADMINTOOLS,
    CSIDL_COMMON_MUSIC, CSIDL_COMMON_PICTURES, CSIDL_COMMON_VIDEO, CSIDL_RESOURCES,
    CSIDL_CDBURN_AREA};

const char* const FolderVariables[] = {
    "SystemRoot", "windir", "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432",
    "CommonProgramFiles", "CommonProgramFiles(x86)", "CommonProgramW6432", "ProgramData",
    "ALLUSERSPROFILE", "PUBLIC", "USERPROFILE", "APPDATA", "LOCALAPPDATA", "TEMP", "TMP"};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The non-empty components of the text, split at backslashes and slashes; a double-byte
// character is stepped over whole, since its second byte may look like a backslash.
std::vector<std::string> Components(const std::string& text) {
    std::vector<std::string> components(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) {
            components.back() += text.substr(i++, 2);
        } else if (IsSeparator(text[i])) {
            if (!components.back().empty()) components.emplace_back();
        } else {
            components.back() += text[i];
        }
    }
    if (components.back().empty()) components.pop_back();
    return components;
}

bool IsDotsAndBlanks(const std::string& name) {
    return name.find_first_not_of(". ") == std::string::npos;
}

// The path's components after "X:" or after the "\\" of a UNC path; false for any other
// form, for the device forms, for "." and ".." components and for a component holding a
// colon: a stream name ("Windows::$INDEX_ALLOCATION") names the folder itself on NTFS.
bool FullPathComponents(const std::string& path, bool& unc, std::vector<std::string>& components) {
    bool drive = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]) &&
                 ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    unc = !drive && path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    if (!drive && !unc) return false;
    components = Components(path.substr(2));
    if (unc && (components.size() < 2 || components[0] == "?" || components[0] == ".")) return false;
    for (const std::string& component : components)
        if (IsDotsAndBlanks(component) || component.find(':') != std::string::npos) return false;
    return true;
}

std::string Canonical(const std::string& path) { return UpperCase(ExcludeTrailingBackslash(path)); }

// The full path in its long and in its short spelling (the same when the path does not
// exist), in canonical form.
std::vector<std::string> Spellings(const std::string& path) {
    std::string full = ExpandFileName(path);
    return {Canonical(full), Canonical(GetShortName(full))};
}

void AddFolder(TProtectedFolders& list, const std::string& folder) {
    if (folder.empty()) return;
    for (const std::string& spelling : Spellings(folder)) list.folders.push_back(spelling);
}

using FolderPathFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using SpecialFolderPathFunction = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);

// The shell folders, looked up at run time: SHGetFolderPathA is missing from the shell of
// older systems (shfolder.dll may supply it), SHGetSpecialFolderPathA from the oldest.
void AddShellFolders(TProtectedFolders& list) {
    qz::UniqueModule shell(LoadLibraryQuiet("shell32.dll"));
    qz::UniqueModule shfolder(LoadLibraryQuiet("shfolder.dll"));
    auto folderPath = reinterpret_cast<FolderPathFunction>(
        GetProcAddress(shell.Get(), "SHGetFolderPathA"));
    if (!folderPath && shfolder)
        folderPath = reinterpret_cast<FolderPathFunction>(
            GetProcAddress(shfolder.Get(), "SHGetFolderPathA"));
    auto specialFolderPath = reinterpret_cast<SpecialFolderPathFunction>(
        GetProcAddress(shell.Get(), "SHGetSpecialFolderPathA"));
    for (int csidl : ShellFolders) {
        char buffer[MAX_PATH] = "";
        bool found = folderPath ? SUCCEEDED(folderPath(nullptr, csidl, nullptr, 0, buffer))
                                : specialFolderPath && specialFolderPath(nullptr, buffer, csidl, FALSE);
        if (!found || !buffer[0]) continue;
        AddFolder(list, buffer);
        std::string profiles = ExcludeTrailingBackslash(ExtractFilePath(buffer));
        if (csidl != CSIDL_PROFILE || profiles.size() <= 2) continue;  // not a drive root
        for (const std::string& spelling : Spellings(profiles))
            list.profileParents.push_back(spelling);
    }
}

// The temporary folder comes from its variables only: where they are missing, GetTempPathA
// answers with the current folder, which may well be the application's own.
void AddSystemFolders(TProtectedFolders& list) {
    char buffer[MAX_PATH + 1] = "";
    const std::string windows = ExcludeTrailingBackslash(GetWindowsDir());
    AddFolder(list, windows);
    if (GetSystemDirectoryA(buffer, sizeof buffer)) AddFolder(list, buffer);
    // A 32-bit program on 64-bit Windows reaches the system folder also as Sysnative (an
    // alias that no directory listing shows), and the 32-bit system folder as SysWOW64.
    if (!windows.empty()) {
        AddFolder(list, windows + "\\Sysnative");
        AddFolder(list, windows + "\\SysWOW64");
    }
    for (const char* name : FolderVariables) {
        DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        if (length > 0 && length < sizeof buffer) AddFolder(list, buffer);
    }
    const std::string versionKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    AddFolder(list, RegReadString(versionKey, "ProgramFilesDir", ""));
    AddFolder(list, RegReadString(versionKey, "CommonFilesDir", ""));
}

const TProtectedFolders& ProtectedFolders() {
    static const TProtectedFolders list = [] {
        TProtectedFolders folders;
        AddSystemFolders(folders);
        AddShellFolders(folders);
        return folders;
    }();
    return list;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsProfileParent(const std::string& folder) {
    const std::vector<std::string>& parents = ProtectedFolders().profileParents;
    return std::find(parents.begin(), parents.end(), folder) != parents.end();
}

// Whether a protected folder lies below the canonical spelling of a folder.
bool HoldsProtectedFolder(const std::string& folder) {
    const std::string prefix = folder + "\\";
    for (const std::string& protectedFolder : ProtectedFolders().folders)
        if (StartsWith(protectedFolder, prefix)) return true;
    return false;
}

// Whether a canonical spelling names a protected folder or a folder above one.
bool ReachesProtectedFolder(const std::string& folder) {
    const std::vector<std::string>& folders = ProtectedFolders().folders;
    return std::find(folders.begin(), folders.end(), folder) != folders.end() ||
           HoldsProtectedFolder(folder) || IsProfileParent(ExcludeTrailingBackslash(ExtractFilePath(folder)));
}

// Whether nothing inside the folder (a full path) can be protected: no protected folder lies
// below either of its spellings, and it is no folder of profiles. A path inside such a
// folder is then judged without the short spelling of its own name, which costs a
// directory search per component. The short spelling is converted component by component,
// so the path's short spelling is the folder's followed by its own name's, and only that
// folder part can lead to a protected folder. Paths come folder by folder, so the last
// folder's answer is kept, for each thread (the worker and the main thread both judge), in
// plain storage: a thread-local object with a destructor would need the run-time library's
// thread-exit hooks, which the earliest Windows versions lack. Longer folders are not kept.
struct JudgedFolder {
    char folder[MAX_PATH];
    size_t length;  // 0: nothing kept
    bool answer;
};

bool NothingProtectedInside(const std::string& folder) {
    thread_local JudgedFolder last;
    if (last.length != 0 && folder.size() == last.length &&
        std::memcmp(folder.data(), last.folder, last.length) == 0)
        return last.answer;
    bool answer = true;
    for (const std::string& spelling : Spellings(folder))
        if (HoldsProtectedFolder(spelling) || IsProfileParent(spelling)) answer = false;
    last.length = folder.size() < sizeof last.folder ? folder.size() : 0;
    std::memcpy(last.folder, folder.data(), last.length);
    last.answer = answer;
    return answer;
}

// The quick judgement of a path whose folder holds nothing protected: its long spelling
// must split there as well, which a double-byte name could prevent. A drive root ("C:")
// would name the current folder of that drive, and is judged the long way.
bool InsideUnprotectedFolder(const std::string& path) {
    const std::string full = ExpandFileName(path);
    const std::string folder = ExcludeTrailingBackslash(ExtractFilePath(full));
    if (folder.empty() || folder.back() == ':' || ExtractFileName(full).empty()) return false;
    return StartsWith(Canonical(full), Canonical(folder) + "\\") && NothingProtectedInside(folder);
}

// The length of the character at a position: a double-byte character is one character.
size_t CharLength(const std::string& text, size_t at) {
    return IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// Matches character by character, so that "?" takes a whole double-byte character and no
// match resumes on a trail byte.
bool Glob(const std::string& name, const std::string& mask) {
    size_t n = 0, m = 0, starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        const size_t nameChar = CharLength(name, n);
        const size_t maskChar = m < mask.size() ? CharLength(mask, m) : 0;
        if (m < mask.size() && (mask[m] == '?' || mask.compare(m, maskChar, name, n, nameChar) == 0)) {
            n += nameChar;
            m += maskChar;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            starName += CharLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace

bool IsProtectedPath(const std::string& path) {
    bool unc = false;
    std::vector<std::string> components;
    if (!FullPathComponents(path, unc, components)) return true;
    if (components.size() <= (unc ? 2u : 0u)) return true;  // a drive root or a share root
    if (InsideUnprotectedFolder(path)) return false;
    for (const std::string& spelling : Spellings(path))
        if (ReachesProtectedFolder(spelling)) return true;
    return false;
}

bool HasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

bool MatchesFileMask(const std::string& name, const std::string& mask) {
    const std::string upperName = UpperCase(name);
    const std::string upperMask = UpperCase(mask);
    if (upperMask.size() >= 2 && upperMask.compare(upperMask.size() - 2, 2, ".*") == 0 &&
        upperName.find('.') == std::string::npos)
        return Glob(upperName, upperMask.substr(0, upperMask.size() - 2));
    if (!upperMask.empty() && upperMask.back() == '.')
        return upperName.find('.') == std::string::npos &&
               Glob(upperName, upperMask.substr(0, upperMask.size() - 1));
    return Glob(upperName, upperMask);
}
