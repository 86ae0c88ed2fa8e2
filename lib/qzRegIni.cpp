#include "qzRegIni.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzStrUtils.h"

// ---------------------------------------------------------------------------------------
// INI files through the process-wide engine cache
// ---------------------------------------------------------------------------------------

namespace {

// One engine per file, kept sorted by the upper-cased path and searched case-insensitively.
// The main thread and the uninstall worker both use it, and even reads move an engine's
// search position, so every operation on it runs under the one lock, from start to end.
class IniFileCache {
public:
    IniFileCache() = default;
    IniFileCache(const IniFileCache&) = delete;
    IniFileCache& operator=(const IniFileCache&) = delete;
    // Process end: modified engines still write their files back.
    ~IniFileCache() { ReleaseAll(); }

    qz::CriticalSection& Guard() { return lock_; }

    // The caller holds the lock for as long as it uses the engine.
    TqzIniFile& Engine(const std::string& file, bool readOnly) {
        std::string key = UpperCase(file);
        auto found = Find(key);
        if (found != entries_.end() && found->engine->ReadOnly() && !readOnly) {
            Release(key);
            found = entries_.end();
        }
        if (found != entries_.end()) return *found->engine;
        // Loading may raise EInOutError; nothing is cached then.
        return Add(key, std::make_unique<TqzIniFile>(key, readOnly, true, true, true, true));
    }

    // Puts in an engine for the loaded one's file, sharing its model, unless one is there.
    void Share(const TqzIniFile& loaded) {
        std::string key = UpperCase(loaded.FileName());
        if (Find(key) == entries_.end()) Add(key, std::make_unique<TqzIniFile>(key, loaded));
    }

    void Release(const std::string& file) {
        auto found = Find(UpperCase(file));
        if (found == entries_.end()) return;
        std::unique_ptr<TqzIniFile> engine = std::move(found->engine);
        entries_.erase(found);
        engine.reset();  // writes a modified read-write engine back
    }

    void ReleaseAll() {
        qz::Lock guard(lock_);
        for (Entry& entry : entries_) entry.engine.reset();
        entries_.clear();
    }

private:
    struct Entry {
        std::string key;
        std::unique_ptr<TqzIniFile> engine;
    };

    static bool KeyBelow(const Entry& entry, const std::string& key) {
        return CompareText(entry.key, key) < 0;
    }

    TqzIniFile& Add(const std::string& key, std::unique_ptr<TqzIniFile> engine) {
        auto position = std::lower_bound(entries_.begin(), entries_.end(), key, KeyBelow);
        return *entries_.insert(position, Entry{key, std::move(engine)})->engine;
    }

    std::vector<Entry>::iterator Find(const std::string& key) {
        auto position = std::lower_bound(entries_.begin(), entries_.end(), key, KeyBelow);
        if (position != entries_.end() && CompareText(position->key, key) == 0) return position;
        return entries_.end();
    }

    qz::CriticalSection lock_;
    std::vector<Entry> entries_;
};

// Created at the first use, after every static object it relies on, so that at process
// end it is destroyed (and writes back) before them.
IniFileCache& Cache() {
    static IniFileCache cache;
    return cache;
}

}  // namespace

TqzIniFile* GetCachedIniFile(const std::string& file, bool readOnly) {
    qz::Lock guard(Cache().Guard());
    return &Cache().Engine(file, readOnly);
}

void CacheIniFile(const TqzIniFile& loaded) {
    qz::Lock guard(Cache().Guard());
    Cache().Share(loaded);
}

void ReleaseCachedIniFile(const std::string& file) {
    qz::Lock guard(Cache().Guard());
    Cache().Release(file);
}

void ReleaseAllIniFiles() { Cache().ReleaseAll(); }

std::string ReadIniString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
    qz::Lock guard(Cache().Guard());
    return Cache().Engine(file, true).ReadString(section, key, defaultValue);
}

bool ReadIniBool(const std::string& file, const std::string& section, const std::string& key,
                 bool defaultValue) {
    return ReadIniString(file, section, key, defaultValue ? "1" : "0") == "1";
}

void ReadIniSection(const std::string& file, const std::string& section, TStringList& list) {
    qz::Lock guard(Cache().Guard());
    Cache().Engine(file, true).ReadSectionValues(section, list);
}

int CountIniSectionLines(const std::string& file, const std::string& section) {
    TStringList lines;
    ReadIniSection(file, section, lines);
    return lines.Count();
}

// ---------------------------------------------------------------------------------------
// Registry by path
// ---------------------------------------------------------------------------------------

namespace {

const REGSAM kReadAccess = KEY_READ;    // 0x20019
const REGSAM kWriteAccess = KEY_WRITE;  // 0x20006
const DWORD kSubKeyNameChars = 1024;

std::string UpperCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The predefined key of a short root name, or nullptr.
HKEY RootByName(const std::string& name) {
    static const struct {
        const char* name;
        HKEY key;
    } roots[] = {{"HKCR", HKEY_CLASSES_ROOT},
                 {"HKCU", HKEY_CURRENT_USER},
                 {"HKLM", HKEY_LOCAL_MACHINE},
                 {"HKU", HKEY_USERS}};
    for (const auto& root : roots)
        if (name == root.name) return root.key;
    return nullptr;
}

qz::UniqueKey OpenKey(const std::string& path, REGSAM access) {
    HKEY root = nullptr;
    std::string subkey;
    SplitRegPath(path, root, subkey);
    qz::UniqueKey key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, access, key.Put()) != ERROR_SUCCESS) key.Reset();
    return key;
}

// The value's type and whole data, read through one open key; false when the key or the
// value cannot be read.
bool ReadValue(const std::string& path, const std::string& name, DWORD& type,
               std::vector<uint8_t>& data) {
    qz::UniqueKey key = OpenKey(path, kReadAccess);
    if (!key) return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size);
    // The value may grow between the size query and the read: ask again then.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        data.resize(size);
        status = RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                                  data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return true;
        }
    }
    return false;
}

void EnumSubKeys(HKEY key, TStringList& list) {
    char name[kSubKeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD length = kSubKeyNameChars;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return;
        list.Add(std::string(name, length));
    }
}

// A registry symbolic link is a key that refers to another key. Opening it normally opens
// the target, so a tree walk that followed it would delete keys outside the tree.
bool IsLinkKey(HKEY parent, const std::string& name) {
    qz::UniqueKey link;
    if (RegOpenKeyExA(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, link.Put()) !=
        ERROR_SUCCESS)
        return false;  // also where the platform knows no links (Windows 9x)
    DWORD type = REG_NONE;
    return RegQueryValueExA(link.Get(), "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) ==
               ERROR_SUCCESS &&
           type == REG_LINK;
}

// Deletes the link itself, never its target. RegDeleteKeyA would open the target and delete
// that, so this takes NtDeleteKey on a handle of the link.
bool DeleteLinkKey(HKEY parent, const std::string& name) {
    using NtDeleteKeyProc = LONG(WINAPI*)(HANDLE);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");  // always loaded where links exist
    auto ntDeleteKey =
        ntdll ? reinterpret_cast<NtDeleteKeyProc>(GetProcAddress(ntdll, "NtDeleteKey")) : nullptr;
    qz::UniqueKey link;
    if (!ntDeleteKey || RegOpenKeyExA(parent, name.c_str(), REG_OPTION_OPEN_LINK, DELETE,
                                      link.Put()) != ERROR_SUCCESS)
        return false;
    return ntDeleteKey(link.Get()) >= 0;
}

// Deletes the subkey name of parent; with recursive, everything below it first. The walk
// goes through handles of the keys being deleted, so it never leaves the tree: subkeys that
// are links are removed as links without being entered.
bool DeleteSubKey(HKEY parent, const std::string& name, bool recursive) {
    if (IsLinkKey(parent, name)) return DeleteLinkKey(parent, name);
    if (recursive) {
        qz::UniqueKey key;
        if (RegOpenKeyExA(parent, name.c_str(), 0, kReadAccess, key.Put()) == ERROR_SUCCESS) {
            TStringList children;  // taken once, before any deletion
            EnumSubKeys(key.Get(), children);
            for (const auto& child : children.Entries()) DeleteSubKey(key.Get(), child.text, true);
        }
    }
    return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

bool HasTextForm(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY || type == REG_DWORD ||
           type == REG_MULTI_SZ;
}

std::string BytesToHex(const std::vector<uint8_t>& data) {
    std::string hex;
    hex.reserve(data.size() * 2);
    for (uint8_t byte : data) hex += ToHex(byte, 2);
    return hex;
}

// Up to four bytes as the low-order bytes of a number that starts at 0.
bool BytesToInteger(const std::vector<uint8_t>& data, int32_t& value) {
    if (data.size() > sizeof(uint32_t)) return false;
    uint32_t number = 0;
    if (!data.empty()) std::memcpy(&number, data.data(), data.size());
    value = static_cast<int32_t>(number);
    return true;
}

// Registry strings usually end with a NUL, but nothing enforces it: the text runs to the
// first NUL or to the end of the data.
std::string BytesToString(const std::vector<uint8_t>& data) {
    auto end = std::find(data.begin(), data.end(), 0);
    return std::string(data.begin(), end);
}

// The strings of a REG_MULTI_SZ block joined by CR LF. The block should end with two NULs;
// at most two are dropped, so a block that lacks one keeps its last string whole.
std::string MultiStringToText(const std::vector<uint8_t>& data) {
    std::string block(data.begin(), data.end());
    for (int i = 0; i < 2 && !block.empty() && block.back() == '\0'; ++i) block.pop_back();
    return ReplaceAll(block, std::string(1, '\0'), "\r\n");
}

// The path without a trailing "\" (a trail byte of a double-byte character is none); "/" is
// an ordinary character of key names.
std::string WithoutTrailingBackslash(const std::string& path) {
    if (path.empty()) return path;
    const char* last = CharPrevA(path.c_str(), path.c_str() + path.size());
    return *last == '\\' && last + 1 == path.c_str() + path.size() ? path.substr(0, path.size() - 1) : path;
}

}  // namespace

void SplitRegPath(const std::string& path, HKEY& root, std::string& subkey) {
    std::string whole = WithoutTrailingBackslash(path);
    size_t slash = whole.find('\\');
    root = RootByName(UpperCaseAscii(whole.substr(0, slash)));
    if (!root) {
        root = HKEY_CURRENT_USER;
        subkey = whole;
    } else {
        subkey = slash == std::string::npos ? std::string() : whole.substr(slash + 1);
    }
}

DWORD RegValueType(const std::string& path, const std::string& name) {
    qz::UniqueKey key = OpenKey(path, kReadAccess);
    DWORD type = 0;
    if (!key || RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, nullptr) !=
                    ERROR_SUCCESS)
        return 0;
    return type;
}

DWORD RegValueSize(const std::string& path, const std::string& name) {
    DWORD size = 0;
    return RegReadData(path, name, nullptr, size) ? size : 0;
}

bool RegReadData(const std::string& path, const std::string& name, void* buffer, DWORD& size) {
    qz::UniqueKey key = OpenKey(path, kReadAccess);
    return key && RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr,
                                   static_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
}

std::string RegReadString(const std::string& path, const std::string& name,
                          const std::string& defaultValue) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    if (!ReadValue(path, name, type, data) || !HasTextForm(type)) return defaultValue;
    int32_t number = 0;
    switch (type) {
    case REG_BINARY:
        return BytesToHex(data);
    case REG_DWORD:
        if (!BytesToInteger(data, number)) number = StrToDWordDef(defaultValue, 0);
        return UnsignedToStr(static_cast<uint32_t>(number));
    case REG_MULTI_SZ:
        return MultiStringToText(data);
    default:  // REG_SZ, REG_EXPAND_SZ: the text as stored, variables unexpanded
        return BytesToString(data);
    }
}

int32_t RegReadInteger(const std::string& path, const std::string& name, int32_t defaultValue) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
    int32_t value = 0;
    return ReadValue(path, name, type, data) && BytesToInteger(data, value) ? value : defaultValue;
}

bool RegReadBool(const std::string& path, const std::string& name, bool defaultValue) {
    return RegReadInteger(path, name, defaultValue ? 1 : 0) == 1;
}

bool RegReadBytes(const std::string& path, const std::string& name, std::vector<uint8_t>& data) {
    DWORD type = REG_NONE;
    std::vector<uint8_t> read;
    if (!ReadValue(path, name, type, read)) return false;
    data = std::move(read);
    return true;
}

std::string RegReadBytesHex(const std::string& path, const std::string& name,
                            const std::string& defaultValue) {
    std::vector<uint8_t> data;
    return RegReadBytes(path, name, data) ? BytesToHex(data) : defaultValue;
}

void RegEnumSubKeys(const std::string& path, TStringList& list) {
    list.Clear();
    qz::UniqueKey key = OpenKey(path, kReadAccess);
    if (key) EnumSubKeys(key.Get(), list);
}

bool RegWriteData(const std::string& path, const std::string& name, DWORD type, DWORD size,
                  const void* data) {
    HKEY root = nullptr;
    std::string subkey;
    SplitRegPath(path, root, subkey);
    qz::UniqueKey key;
    if (RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess,
                        nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                          size) == ERROR_SUCCESS;
}

bool RegWriteString(const std::string& path, const std::string& name, const std::string& text) {
    return RegWriteData(path, name, REG_SZ, static_cast<DWORD>(text.size() + 1), text.c_str());
}

bool RegWriteInteger(const std::string& path, const std::string& name, int32_t value) {
    return RegWriteData(path, name, REG_DWORD, sizeof(value), &value);
}

bool RegWriteBytes(const std::string& path, const std::string& name, const void* data,
                   DWORD size) {
    return RegWriteData(path, name, REG_BINARY, size, data);
}

bool RegWriteBytesHex(const std::string& path, const std::string& name, const std::string& text) {
    std::string digits = RemoveSpaces(text);
    std::vector<uint8_t> bytes(digits.size() / 2);  // a trailing odd digit is ignored
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(HexToInt(digits.substr(2 * i, 2)));
    return RegWriteBytes(path, name, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool RegWriteMultiString(const std::string& path, const std::string& name,
                         const TStringList& list) {
    // Each line NUL-terminated, one more NUL closing the block; LF characters inside lines
    // vanish and CR characters split them, as their text form would.
    std::string block;
    for (const auto& entry : list.Entries()) block += RemoveChar(entry.text, '\n') + '\0';
    std::replace(block.begin(), block.end(), '\r', '\0');
    block += '\0';
    return RegWriteData(path, name, REG_MULTI_SZ, static_cast<DWORD>(block.size()), block.data());
}

bool RegWriteMultiStringText(const std::string& path, const std::string& name,
                             const std::string& text) {
    TStringList lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.Add(text.substr(start, end - start));
        start = end;
        if (start < text.size() && text[start] == '\r') ++start;
        if (start < text.size() && text[start] == '\n') ++start;
    }
    return RegWriteMultiString(path, name, lines);
}

bool RegWriteTyped(const std::string& path, const std::string& name, DWORD type,
                   const std::string& text) {
    switch (type) {
    case REG_SZ:
        return RegWriteString(path, name, text);
    case REG_EXPAND_SZ:  // kept expandable: a value such as PATH holds %SystemRoot%
        return RegWriteData(path, name, REG_EXPAND_SZ, static_cast<DWORD>(text.size() + 1), text.c_str());
    case REG_BINARY:
        return RegWriteBytesHex(path, name, text);
    case REG_DWORD:
        return RegWriteInteger(path, name, StrToDWordDef(text, 0));
    case REG_MULTI_SZ:
        return RegWriteMultiStringText(path, name, text);
    default:
        return false;
    }
}

bool DeleteRegValue(const std::string& path, const std::string& name) {
    qz::UniqueKey key = OpenKey(path, kWriteAccess);
    return key && RegDeleteValueA(key.Get(), name.c_str()) == ERROR_SUCCESS;
}

bool DeleteRegKey(const std::string& path, bool recursive) {
    HKEY root = nullptr;
    std::string subkey;
    SplitRegPath(path, root, subkey);
    // The leaf ends at the last backslash only: a ":" is an ordinary character of key names.
    size_t slash = subkey.rfind('\\');
    std::string leaf = slash == std::string::npos ? subkey : subkey.substr(slash + 1);
    std::string parentPath = slash == std::string::npos ? std::string() : subkey.substr(0, slash);
    // A root key itself is never deleted, nor is a path whose last component is empty, nor
    // a path holding a NUL: the system would see a shorter path, another key, or none at
    // all and then empty the parent.
    if (leaf.empty() || path.find('\0') != std::string::npos) return false;
    qz::UniqueKey parent;
    if (RegOpenKeyExA(root, parentPath.c_str(), 0, kWriteAccess, parent.Put()) != ERROR_SUCCESS)
        return false;
    return DeleteSubKey(parent.Get(), leaf, recursive);
}
