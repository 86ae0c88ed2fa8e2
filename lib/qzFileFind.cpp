#include "qzFileFind.h"

#include "qzFileUtils.h"

namespace {

constexpr int32_t kAnyAttributes = 63;

// The error of the system call that just failed; never 0, so that a failure can not be
// taken for a found entry.
DWORD LastErrorOrNoMoreFiles() {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_NO_MORE_FILES;
}

bool IsDotEntry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool EntryMatches(const TSearchRecEx& record) {
    const DWORD attributes = record.FindData.dwFileAttributes;
    if (record.IncludeAttr != kAnyAttributes &&
        (attributes & static_cast<DWORD>(record.IncludeAttr)) == 0)
        return false;
    if (attributes & static_cast<DWORD>(record.ExcludeAttr)) return false;
    return !IsDotEntry(record.FindData.cFileName);
}

void TakeEntry(TSearchRecEx& record) {
    const WIN32_FIND_DATAA& data = record.FindData;
    FILETIME local{};
    WORD date = 0;
    WORD time = 0;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToDosDateTime(&local, &date, &time);
    record.Time = (static_cast<uint32_t>(date) << 16) | time;
    record.Size = static_cast<int32_t>(data.nFileSizeLow);
    record.Attr = data.dwFileAttributes;
    record.Name = data.cFileName;
    record.FullName = record.Path + record.Name;
}

// Steps over entries that do not match, starting with the one FindData holds.
DWORD FindMatching(TSearchRecEx& record) {
    while (!EntryMatches(record)) {
        if (!FindNextFileA(record.FindHandle.Get(), &record.FindData))
            return LastErrorOrNoMoreFiles();
    }
    TakeEntry(record);
    return 0;
}

}  // namespace

DWORD FindFirstEx(const std::string& mask, int32_t includeAttr, int32_t excludeAttr,
                  TSearchRecEx& record) {
    record.Path = ExtractFilePath(mask);
    record.IncludeAttr = includeAttr != 0 ? includeAttr : kAnyAttributes;
    record.ExcludeAttr = excludeAttr;
    record.FindHandle.Reset();
    record.FindHandle.Reset(FindFirstFileA(mask.c_str(), &record.FindData));
    if (!record.FindHandle) return LastErrorOrNoMoreFiles();
    DWORD result = FindMatching(record);
    if (result != 0) record.FindHandle.Reset();
    return result;
}

DWORD FindNextEx(TSearchRecEx& record) {
    if (!FindNextFileA(record.FindHandle.Get(), &record.FindData)) return LastErrorOrNoMoreFiles();
    return FindMatching(record);
}

void FindCloseEx(TSearchRecEx& record) { record.FindHandle.Reset(); }
