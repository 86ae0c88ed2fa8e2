// INI files by file name, through a process-wide cache of engines, and the registry by
// path strings such as "HKLM\SOFTWARE\Vendor" (roots HKLM, HKCU, HKCR, HKU; anything else is
// a subkey of HKEY_CURRENT_USER). Registry functions report failure through their result.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qzIniFile.h"
#include "qzStringList.h"

// INI access. Every operation holds the cache lock for its whole duration, so the engines
// may be used from two threads. The engine pointer that GetCachedIniFile returns stays
// owned by the cache.
TqzIniFile* GetCachedIniFile(const std::string& file, bool readOnly);
// Caches a read-only engine of the loaded engine's file that shares its lines, unless the
// file has an engine already: the file's first read through the cache then parses nothing.
// The loaded engine must have all four parse options on, as the cache's engines have; the
// cached one keeps serving after the loaded one is gone, and after the file is deleted.
void CacheIniFile(const TqzIniFile& loaded);
void ReleaseCachedIniFile(const std::string& file);
void ReleaseAllIniFiles();
std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
bool ReadIniBool(const std::string& file, const std::string& section, const std::string& key,
                 bool defaultValue);
void ReadIniSection(const std::string& file, const std::string& section, TStringList& list);
int CountIniSectionLines(const std::string& file, const std::string& section);

// Registry access. Reads give text whatever the value's type: REG_SZ and REG_EXPAND_SZ as
// stored (unexpanded), REG_BINARY as upper-case hex digits, REG_DWORD as unsigned decimal,
// REG_MULTI_SZ as its strings joined by CR LF; other types give the default.
void SplitRegPath(const std::string& path, HKEY& root, std::string& subkey);
DWORD RegValueType(const std::string& path, const std::string& name);
DWORD RegValueSize(const std::string& path, const std::string& name);
bool RegReadData(const std::string& path, const std::string& name, void* buffer, DWORD& size);
std::string RegReadString(const std::string& path, const std::string& name,
                          const std::string& defaultValue);
int32_t RegReadInteger(const std::string& path, const std::string& name, int32_t defaultValue);
bool RegReadBool(const std::string& path, const std::string& name, bool defaultValue);
bool RegReadBytes(const std::string& path, const std::string& name, std::vector<uint8_t>& data);
std::string RegReadBytesHex(const std::string& path, const std::string& name,
                            const std::string& defaultValue);
void RegEnumSubKeys(const std::string& path, TStringList& list);
bool RegWriteData(const std::string& path, const std::string& name, DWORD type, DWORD size,
                  const void* data);
bool RegWriteString(const std::string& path, const std::string& name, const std::string& text);
bool RegWriteInteger(const std::string& path, const std::string& name, int32_t value);
bool RegWriteBytes(const std::string& path, const std::string& name, const void* data, DWORD size);
bool RegWriteBytesHex(const std::string& path, const std::string& name, const std::string& text);
bool RegWriteMultiString(const std::string& path, const std::string& name, const TStringList& list);
bool RegWriteMultiStringText(const std::string& path, const std::string& name,
                             const std::string& text);
bool RegWriteTyped(const std::string& path, const std::string& name, DWORD type,
                   const std::string& text);
bool DeleteRegValue(const std::string& path, const std::string& name);
// Deletes the key (with recursive, everything below it first). Refuses a root key itself
// ("HKLM", "HKLM\"). Subkeys that are registry links are removed as links: the walk never
// enters, and never deletes, anything outside the named key.
bool DeleteRegKey(const std::string& path, bool recursive);
