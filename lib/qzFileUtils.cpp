#include "qzFileUtils.h"

#include <cstring>
#include <vector>

#include "qzHandles.h"

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

bool EndsWithBackslashChar(const std::string& path) {
    return !path.empty() && LastDelimiter(path, "\\") == path.size() - 1;
}

}  // namespace

std::string IncludeTrailingBackslash(const std::string& path) {
    return path.empty() || path.back() == '\\' ? path : path + '\\';
}

std::string ExcludeTrailingBackslash(const std::string& path) {
    return EndsWithBackslashChar(path) ? path.substr(0, path.size() - 1) : path;
}

std::string ExtractFilePath(const std::string& path) {
    size_t last = LastDelimiter(path, "\\:");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ExtractFileName(const std::string& path) {
    size_t last = LastDelimiter(path, "\\:");
    return last == std::string::npos ? path : path.substr(last + 1);
}

std::string ExtractFileExt(const std::string& path) {
    size_t last = LastDelimiter(path, ".\\:");
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
    if (path.empty()) return;
    std::string folder = ExcludeTrailingBackslash(path);
    if (folder.size() <= 2 || FolderExists(folder)) return;
    std::string parent = ExtractFilePath(folder);
    if (parent != folder) ForceFolders(parent);
    CreateDirectoryA(folder.c_str(), nullptr);
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

int64_t FilePosition(HANDLE handle) {
    LARGE_INTEGER zero{}, position{};
    return SetFilePointerEx(handle, zero, &position, FILE_CURRENT) ? position.QuadPart : -1;
}

bool AtEndOfFile(HANDLE handle) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) return true;
    return FilePosition(handle) >= size.QuadPart;
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
            LARGE_INTEGER back{};
            back.QuadPart = -static_cast<LONGLONG>(read - taken - 1);
            SetFilePointerEx(handle, back, nullptr, FILE_CURRENT);
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
