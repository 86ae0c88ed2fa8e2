// Directory search filtered by attribute masks; never returns "." or "..".
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "qzHandles.h"

struct TSearchRecEx {
    uint32_t Time = 0;         // last write, local time, DOS date (high word) and time (low word)
    int32_t Size = 0;          // low 32 bits of the size
    uint32_t Attr = 0;
    std::string Path;          // folder part of the mask, with its backslash
    std::string Name;
    std::string FullName;      // Path + Name
    int32_t IncludeAttr = 63;  // an entry needs one of these bits; 63 means any entry
    int32_t ExcludeAttr = 0;   // an entry must have none of these bits
    qz::UniqueFind FindHandle; // the open system search; closed with the record at the latest
    WIN32_FIND_DATAA FindData{};
};

// 0 when the record holds a matching entry, otherwise a Win32 error code
// (ERROR_NO_MORE_FILES at the end).
DWORD FindFirstEx(const std::string& mask, int32_t includeAttr, int32_t excludeAttr,
                  TSearchRecEx& record);
DWORD FindNextEx(TSearchRecEx& record);
void FindCloseEx(TSearchRecEx& record);
