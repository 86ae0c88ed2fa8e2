// File and path primitives, and the file operations deferred to the next boot.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Path texts. "/" separates folders as "\" does; the folder part runs up to and including
// the last "\", "/" or ":". Double-byte characters are never split.
std::string IncludeTrailingBackslash(const std::string& path);
std::string ExcludeTrailingBackslash(const std::string& path);
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// Extension: the text from the last "." of the file-name part, "" when there is none.
std::string ExtractFileExt(const std::string& path);
// Replaces the extension, or appends the new one to a name without an extension.
std::string ChangeFileExt(const std::string& path, const std::string& extension);
// GetFullPathNameA, or the path unchanged when that fails.
std::string ExpandFileName(const std::string& path);

bool FileExists(const std::string& path);    // a file, not a folder
bool FolderExists(const std::string& path);
bool ForceDeleteFile(const std::string& path);
void ForceFolders(const std::string& path);

// Handle-based text files. Handles of 0 or below (including INVALID_HANDLE_VALUE) are unusable.
HANDLE OpenFileHandle(const std::string& path, DWORD access, DWORD shareMode,
                      DWORD disposition, DWORD flagsAndAttributes);
void CloseFileHandle(HANDLE& handle);
bool UsableHandle(HANDLE handle);
// Moves the file position (SetFilePointer's methods FILE_BEGIN, FILE_CURRENT, FILE_END) and
// gives the new one, -1 on failure. With GetFileSize, these use the calls every Windows has.
int64_t SeekFile(HANDLE handle, int64_t distance, DWORD method);
int64_t FilePosition(HANDLE handle);  // -1 on failure
int64_t FileSize(HANDLE handle);      // -1 on failure
bool AtEndOfFile(HANDLE handle);
// One line ended by CR; LF characters are dropped wherever they occur. Reads in 100-byte
// chunks and moves the file position back to just after the CR.
std::string ReadTextLine(HANDLE handle);
// The whole content of a file; raises EInOutError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);
// Writes the text and CR LF; false when the write failed.
bool WriteTextLine(HANDLE handle, const std::string& text);

// Deferred and recursive operations.
void DeleteFileAtReboot(const std::string& path);
bool DeleteFolderTree(const std::string& folder, bool removeFolders);
std::string GetShortName(const std::string& path);
// The full path in its long spelling (8.3 names and "." or ".." resolved), as far as it
// exists; the rest stays as written. GetLongName uses the system's GetLongPathNameA where
// there is one; Windows 95 has none, and LongNameFromSearch builds the name component by
// component with FindFirstFileA instead.
std::string GetLongName(const std::string& path);
std::string LongNameFromSearch(const std::string& path);
std::string MakeUniqueFileName(const std::string& folder, const std::string& prefix,
                               const std::string& extension, bool shortForm);
