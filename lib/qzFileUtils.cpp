#include "qzFileUtils.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "qzErrors.h"
#include "qzHandles.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// Index of the last character of path that is one of chars, or npos. Double-byte
// characters are stepped over whole, so a trail byte is never taken for a delimiter.
size_t LastDelimiter(const std::string& path, const char* chars) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size();) {
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            i += 2;
            continue;
        }
        if (std::strchr(chars, path[i]) != nullptr && path[i] != '\0') last = i;
        ++i;
    }
    return last;
}

// The index of the next "\\" or "/" from start on (npos when there is none), stepping over
// double-byte characters.
size_t NextSeparator(const std::string& path, size_t start) {
    for (size_t i = start; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == '/') return i;
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i]))) ++i;
    }
    return std::string::npos;
}

bool EndsWithBackslashChar(const std::string& path) {
    return !path.empty() && LastDelimiter(path, "\\/") == path.size() - 1;
}

}  // namespace

std::string IncludeTrailingBackslash(const std::string& path) {
    return path.empty() || EndsWithBackslashChar(path) ? path : path + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    return EndsWithBackslashChar(path) ? path.substr(0, path.size() - 1) : path;
}

std::string ExtractFilePath(const std::string& path) {
    size_t last = LastDelimiter(path, "\\/:");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ExtractFileName(const std::string& path) {
    size_t last = LastDelimiter(path, "\\/:");
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string ExtractFileExt(const std::string& path) {
    size_t last = LastDelimiter(path, ".\\/:");
    return last == std::string::npos || path[last] != '.' ? std::string() : path.substr(last);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
    return path.substr(0, path.size() - ExtractFileExt(path).size()) + extension;
}

std::string ExpandFileName(const std::string& path) {
    char* filePart = nullptr;
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, &filePart);
    if (needed == 0) return path;
    std::vector<char> buffer(needed + 1);
    DWORD length = GetFullPathNameA(path.c_str(), needed + 1, buffer.data(), &filePart);
    return length == 0 || length > needed ? path : std::string(buffer.data(), length);
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDeleteFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
}

void ForceFolders(const std::string& path) {
    // The folders of the path from the outermost on, in one pass rather than one call per
    // component, and only as far as the system can create folders at all: a hostile path of
    // thousands of components costs no more than one of MAX_PATH characters.
    const std::string folder = ExcludeTrailingBackslash(path);
    for (size_t end = 0; end != std::string::npos && end <= MAX_PATH;) {
        end = NextSeparator(folder, end + 1);
        const std::string part = folder.substr(0, end);
        if (part.size() > 2 && !FolderExists(part)) CreateDirectoryA(part.c_str(), nullptr);
    }
}

HANDLE OpenFileHandle(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition,
                      DWORD flagsAndAttributes) {
    return CreateFileA(path.c_str(), access, shareMode, nullptr, disposition, flagsAndAttributes,
                       nullptr);
}

void CloseFileHandle(HANDLE& handle) {
    qz::UniqueHandle owner(handle);
    handle = nullptr;
}

bool UsableHandle(HANDLE handle) { return reinterpret_cast<INT_PTR>(handle) > 0; }

// A low part of all ones is a valid result too: only the last error tells a failure.
int64_t SeekFile(HANDLE handle, int64_t distance, DWORD method) {
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(handle, static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}

int64_t FilePosition(HANDLE handle) { return SeekFile(handle, 0, FILE_CURRENT); }

int64_t FileSize(HANDLE handle) {
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return (static_cast<int64_t>(high) << 32) | low;
}

bool AtEndOfFile(HANDLE handle) {
    int64_t size = FileSize(handle);
    return size < 0 || FilePosition(handle) >= size;
}

std::string ReadWholeFile(const std::string& path) {
    qz::UniqueHandle file(OpenFileHandle(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL));
    if (!UsableHandle(file.Get())) throw EInOutError("Cannot open file " + path);
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    do {
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr))
            throw EInOutError("Cannot read file " + path);
        text.append(chunk, read);
    } while (read > 0);
    return text;
}

std::string ReadTextLine(HANDLE handle) {
    std::string line;
    char chunk[100];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handle, chunk, sizeof chunk, &read, nullptr) || read == 0) return line;
        const char* cr = static_cast<const char*>(std::memchr(chunk, '\r', read));
        DWORD taken = cr ? static_cast<DWORD>(cr - chunk) : read;
        for (DWORD i = 0; i < taken; ++i)
            if (chunk[i] != '\n') line += chunk[i];
        if (cr) {
            SeekFile(handle, -static_cast<int64_t>(read - taken - 1), FILE_CURRENT);
            return line;
        }
    }
}

bool WriteTextLine(HANDLE handle, const std::string& text) {
    std::string line = text + "\r\n";
    DWORD written = 0;
    return WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           written == line.size();
}

// Deferred and recursive operations.

namespace {

// Lines ended by CR LF, CR or LF; a line end after the last line adds no empty line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// The boot-time rename list with one entry added: every line trimmed, blank lines kept,
// the entry in front of the first blank line after the first [Rename] header (or after the
// last line when no blank line follows), and a new section at the end when there is none.
std::vector<std::string> WithRenameEntry(const std::vector<std::string>& oldLines,
                                         const std::string& entry) {
    std::vector<std::string> lines;
    bool inRename = false, written = false;
    for (size_t i = 0; i < oldLines.size(); ++i) {
        std::string line = Trim(oldLines[i]);
        if (!line.empty()) lines.push_back(line);
        if (lstrcmpiA(line.c_str(), "[Rename]") == 0) inRename = true;
        if (inRename && !written && (line.empty() || i + 1 == oldLines.size())) {
            lines.push_back(entry);
            written = true;
        }
        if (line.empty()) lines.emplace_back();
    }
    if (!inRename) {
        lines.emplace_back("[Rename]");
        lines.push_back(entry);
    }
    return lines;
}

// Rewrites wininit.ini with the entry added. The old list is moved to the backup first so
// that its lines survive a failure half-way; the backup goes once the new list is complete.
void AddRenameEntry(const std::string& listPath, const std::string& entry) {
    std::string backupPath = ChangeFileExt(listPath, ".bak");
    ForceDeleteFile(backupPath);
    std::vector<std::string> oldLines;
    if (FileExists(listPath)) {
        // A backup that could not be replaced must not be read as the old list, nor may the
        // list then be overwritten: its entries would be lost.
        if (!MoveFileA(listPath.c_str(), backupPath.c_str()))
            throw EInOutError("Cannot rename file " + listPath);
        oldLines = SplitLines(ReadWholeFile(backupPath));
    }
    {
        qz::UniqueHandle list(OpenFileHandle(listPath, GENERIC_WRITE, 0, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL));
        if (!UsableHandle(list.Get())) throw EInOutError("Cannot create file " + listPath);
        for (const std::string& line : WithRenameEntry(oldLines, entry))
            if (!WriteTextLine(list.Get(), line)) throw EInOutError("Cannot write file " + listPath);
    }
    ForceDeleteFile(backupPath);
}

// A drive or share root in any spelling ("", "\", "C:", "C:\", "\\server\share\"): never a
// folder whose whole tree may be deleted.
bool IsRootFolder(const std::string& folder) {
    std::string full = ExcludeTrailingBackslash(ExpandFileName(IncludeTrailingBackslash(folder)));
    if (full.size() <= 2) return true;
    if (full.compare(0, 2, "\\\\") != 0) return false;
    size_t server = full.find('\\', 2);
    return server == std::string::npos || full.find('\\', server + 1) == std::string::npos;
}

constexpr DWORD kVolumeLabel = 0x8;

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Removes a junction or symbolic link itself; what it points to is never entered.
bool RemoveLink(const std::string& path, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str()) != FALSE
                                                   : DeleteFileA(path.c_str()) != FALSE;
}

bool IsDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Deletes one entry of a folder that is not a folder to walk: a file, a volume label (no
// file at all), or a link, which loses the link only: clearing attributes or walking it
// could reach its target.
bool DeleteLeafEntry(const std::string& path, DWORD attributes, bool removeFolders) {
    if (IsLink(attributes)) {
        bool folderLink = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return (folderLink && !removeFolders) || RemoveLink(path, attributes);
    }
    if (attributes & kVolumeLabel) return true;
    return ForceDeleteFile(path);
}

// Deletes the entries directly inside the folder and adds its subfolders to the walk;
// true when every deletion succeeded and the search reached its end.
bool EmptyFolderLevel(const std::string& folder, bool removeFolders, std::vector<std::string>& walk) {
    bool ok = true;
    std::string prefix = folder + "\\";
    WIN32_FIND_DATAA entry;
    qz::UniqueFind search(FindFirstFileA((prefix + "*.*").c_str(), &entry));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileA(search.Get(), &entry) != FALSE) {
        if (IsDotEntry(entry.cFileName)) continue;
        DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(attributes))
            walk.push_back(prefix + entry.cFileName);
        else
            ok = DeleteLeafEntry(prefix + entry.cFileName, attributes, removeFolders) && ok;
    }
    return GetLastError() == ERROR_NO_MORE_FILES && ok;
}

int DayOfYear(const SYSTEMTIME& date) {
    static const int daysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int year = date.wYear;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return daysBefore[date.wMonth - 1] + date.wDay + (leap && date.wMonth > 2 ? 1 : 0);
}

// Eight base-32 digits from the local time: three for the day (within a ten-year cycle),
// five for the hundredths of a second since midnight.
std::string TimeDigits() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    int year = now.wYear % 10;
    int day = year * 365 + year / 4 + DayOfYear(now);
    int time = now.wHour * 360000 + now.wMinute * 6000 + now.wSecond * 100 + now.wMilliseconds / 10;
    return IntToBase(day, 3, 32) + IntToBase(time, 5, 32);
}

}  // namespace

void DeleteFileAtReboot(const std::string& path) {
    std::string fullPath = ExpandFileName(path);
    if (!FileExists(fullPath)) return;
    if (IsNTPlatform()) {
        MoveFileExA(fullPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    AddRenameEntry(IncludeTrailingBackslash(GetWindowsDir()) + "wininit.ini",
                   "NUL=" + GetShortName(fullPath));
}

bool DeleteFolderTree(const std::string& folder, bool removeFolders) {
    if (IsRootFolder(folder)) return false;
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // A junction or linked folder holds nothing of ours: at most the link itself goes.
    if (IsLink(attributes)) return !removeFolders || RemoveLink(folder, attributes);
    // The folders of the tree in the order found, each after its parent, walked by a loop
    // rather than one call per level: no tree is too deep for the stack. They are removed
    // in the reverse order, every folder after everything below it.
    std::vector<std::string> walk{ExcludeTrailingBackslash(folder)};
    std::vector<bool> emptied;
    bool ok = true;
    for (size_t i = 0; i < walk.size(); ++i) {
        emptied.push_back(EmptyFolderLevel(walk[i], removeFolders, walk));
        ok = emptied.back() && ok;
    }
    if (!removeFolders) return ok;
    for (size_t i = walk.size(); i-- > 0;)
        if (emptied[i]) ok = RemoveDirectoryA(walk[i].c_str()) != FALSE && ok;
    return ok;
}

std::string GetShortName(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : path;
}

namespace {

// Where the components of a full path begin: after "X:\" or after "\\server\share\".
size_t RootLength(const std::string& full) {
    if (full.compare(0, 2, "\\\\") != 0) return std::min<size_t>(full.size(), 3);
    size_t share = full.find('\\', 2);
    size_t end = share == std::string::npos ? share : full.find('\\', share + 1);
    return end == std::string::npos ? full.size() : end + 1;
}

}  // namespace

std::string LongNameFromSearch(const std::string& path) {
    std::string full = ExpandFileName(path);
    size_t start = RootLength(full);
    std::string result = full.substr(0, start);
    while (start < full.size()) {
        size_t end = NextSeparator(full, start);
        std::string component = full.substr(start, end == std::string::npos ? end : end - start);
        WIN32_FIND_DATAA data;
        qz::UniqueFind search(component.find_first_of("*?") == std::string::npos
                                  ? FindFirstFileA((result + component).c_str(), &data)
                                  : INVALID_HANDLE_VALUE);
        result += search ? data.cFileName : component;
        if (end == std::string::npos) break;
        result += '\\';
        start = end + 1;
    }
    return result;
}

std::string GetLongName(const std::string& path) {
    using LongPathFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    static const auto longPath = reinterpret_cast<LongPathFunction>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetLongPathNameA"));
    if (!longPath) return LongNameFromSearch(path);
    std::string full = ExpandFileName(path);
    char buffer[MAX_PATH];
    DWORD length = longPath(full.c_str(), buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : full;
}

std::string MakeUniqueFileName(const std::string& folder, const std::string& prefix,
                               const std::string& extension, bool shortForm) {
    std::string base = IncludeTrailingBackslash(folder);
    std::string head = shortForm ? prefix.substr(0, 4) : prefix;
    for (;;) {
        std::string digits = TimeDigits();
        if (shortForm) digits.erase(0, head.size());
        std::string name = head + digits + extension;
        if (GetFileAttributesA((base + name).c_str()) == INVALID_FILE_ATTRIBUTES) return name;
        Sleep(1);  // the next name needs the clock to move on
    }
}
