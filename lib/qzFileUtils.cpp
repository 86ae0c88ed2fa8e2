#include "qzFileUtils.h"
// Placeholder until the file primitives land.
std::string ExtractFilePath(const std::string& path) { size_t p = path.find_last_of("\\:"); return p == std::string::npos ? std::string() : path.substr(0, p + 1); }
std::string ChangeFileExt(const std::string& path, const std::string& ext) { return path + ext; }
bool FileExists(const std::string& path) { DWORD a = GetFileAttributesA(path.c_str()); return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY); }
