// Registry values and keys, and INI entries, put back as they were before the installation.
#include <windows.h>

#include <vector>

#include "Changes.h"
#include "Globals.h"
#include "Removal.h"
#include "Skin.h"
#include "Progress.h"
#include "Report.h"
#include "qzHandles.h"
#include "qzIniEdit.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"

namespace {

// Marks the second bytes of double-byte characters, which may have the code of a
// backslash or a quote and must not be read as one.
std::vector<bool> TrailBytes(const std::string& text) {
    std::vector<bool> trail(text.size(), false);
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i]))) trail[++i] = true;
    return trail;
}

// The backslash between key path and value name: the last one outside a stretch in single
// or double quotes; npos when there is none.
size_t ValueSeparator(const std::string& name) {
    const std::vector<bool> trail = TrailBytes(name);
    char open = 0;
    for (size_t i = name.size(); i-- > 0;) {
        const char c = name[i];
        if (trail[i]) continue;
        if (open != 0) {
            if (c == open) open = 0;
        } else if (c == '\'' || c == '"') {
            open = c;
        } else if (c == '\\') {
            return i;
        }
    }
    return std::string::npos;
}

// Type 0 means the value did not exist before the installation.
void RestoreValue(const std::string& line) {
    const std::string name = NamePart(line);
    const std::string value = ValuePart(line);
    ReportStatus(FormatStringsEntry(11, name));
    const std::string keyPath = ExtractKeyPath(name);
    const std::string valueName = ExtractValueName(name);
    const int32_t type = StrToIntOrZero(GetField(1, value, ","));
    if (type != 0)
        SetRegistryValue(keyPath, valueName, static_cast<DWORD>(type),
                         ReplaceAll(GetField(2, value, ","), "||", "\r\n"));
    else
        RemoveRegistryValue("registry value", keyPath, valueName);
}

void DeleteCreatedKey(const std::string& path) {
    ReportStatus(FormatStringsEntry(12, path));
    RemoveCreatedKey(path);
}

// An entry without a key names no INI entry: the engine would take an empty key for the
// whole section and erase it.
void RestoreIniEntry(const std::string& line) {
    const std::string name = NamePart(line);
    const std::string value = ValuePart(line);
    const std::string file = GetField(1, name, ",");
    const std::string section = GetField(2, name, ","), key = GetField(3, name, ",");
    ReportStatus(FormatStringsEntry(13, file));
    if (Trim(key).empty())
        return Record(Outcome::Malformed, "INI entry", line, "no key");
    // Only the entry's own line changes: the file belongs to others. A cached engine of the
    // file reads it afresh afterwards.
    if (ChangeIniEntry(file, section, key, value.empty() ? nullptr : &value) == IniEdit::Changed &&
        !DryRun)
        ReleaseCachedIniFile(file);
}

}  // namespace

std::string ExtractKeyPath(const std::string& name) {
    const size_t separator = ValueSeparator(name);
    return separator == std::string::npos ? std::string() : name.substr(0, separator);
}

std::string ExtractValueName(const std::string& name) {
    const size_t separator = ValueSeparator(name);
    const std::string valueName = separator == std::string::npos ? name : name.substr(separator + 1);
    return !valueName.empty() && valueName[0] == '\'' ? StripQuotes(valueName, '\'') : valueName;
}

void RemoveRegistryEntries() {
    LoadSectionLines("AddReg");
    for (int i = 0; i < SectionLines->Count(); ++i) {
        RestoreValue(SectionLines->Strings(i));
        ReportStep();
    }
    LoadSectionLines("CreateKeys");
    SortSectionKeys();
    for (int i = SectionLines->Count() - 1; i >= 0; --i) {
        DeleteCreatedKey(SectionLines->Strings(i));
        ReportStep();
    }
}

void RemoveIniEntries() {
    LoadSectionLines("AddIni");
    // Each entry is written at once, so an INI file that cannot be opened ends the walk with
    // the entries before it restored.
    for (int i = 0; i < SectionLines->Count(); ++i) {
        RestoreIniEntry(SectionLines->Strings(i));
        ReportStep();
    }
}
