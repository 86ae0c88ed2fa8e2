#include "Changes.h"

#include <set>

#include "Globals.h"
#include "Removal.h"
#include "Report.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzRegIni.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

// What a dry run has removed: files and folders by their upper-cased long path, registry
// keys by their upper-cased path; folder trees removed whole.
std::set<std::string> Removed;
std::set<std::string> RemovedTrees;

std::string PathKey(const std::string& path) { return LongNameKey(ExcludeTrailingBackslash(path)); }

bool UnderRemovedTree(const std::string& key) {
    for (const std::string& tree : RemovedTrees)
        if (key.size() > tree.size() && key.compare(0, tree.size(), tree) == 0 && key[tree.size()] == '\\')
            return true;
    return false;
}

// Whether everything in the folder is gone, in a dry run.
bool EmptyInDryRun(const std::string& folder) {
    WIN32_FIND_DATAA found;
    const std::string prefix = IncludeTrailingBackslash(folder);
    qz::UniqueFind search(FindFirstFileA((prefix + "*").c_str(), &found));
    if (!search) return true;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != ".." && !RemovedInDryRun(prefix + name)) return false;
    } while (FindNextFileA(search.Get(), &found));
    return true;
}

std::string ValuePath(const std::string& key, const std::string& name) {
    return IncludeTrailingBackslash(key) + name;
}

// A removal in a dry run: recorded, and remembered for the later actions.
void PretendRemoved(const char* kind, const std::string& path) {
    Removed.insert(PathKey(path));
    Record(Outcome::Removed, kind, path);
}

void RecordRemoval(bool removed, const char* kind, const std::string& object, DWORD error) {
    if (removed)
        Record(Outcome::Removed, kind, object);
    else
        RecordFailure(kind, object, error);
}

}  // namespace

bool RemovedInDryRun(const std::string& path) {
    if (Removed.empty() && RemovedTrees.empty()) return false;
    const std::string key = PathKey(path);
    return Removed.count(key) != 0 || UnderRemovedTree(key);
}

void ForgetDryRun() {
    Removed.clear();
    RemovedTrees.clear();
}

void RemoveFileNow(const char* kind, const std::string& path) {
    if (!FileExists(path) || RemovedInDryRun(path)) return;
    if (DryRun) return PretendRemoved(kind, path);
    bool removed = ForceDeleteFile(path);
    RecordRemoval(removed, kind, path, GetLastError());
}

void RemoveFileOrDefer(const char* kind, const std::string& path) {
    if (DryRun) return PretendRemoved(kind, path);
    const bool deleted = ForceDeleteFile(path);
    const DWORD error = GetLastError();
    if (deleted || !FileExists(path)) {
        Record(Outcome::Removed, kind, path);
        return;
    }
    const std::string why = Reporting() ? SystemError(error) : "";
    DeleteFileAtReboot(path);
    RestartNeeded = true;
    Record(Outcome::Deferred, kind, path, why);
}

void RemoveFolderIfEmpty(const std::string& folder, bool orAtNextBoot) {
    if (!FolderExists(folder) || RemovedInDryRun(folder)) {
        if (orAtNextBoot) Record(Outcome::Missing, "folder", folder);
    } else if (DryRun ? EmptyInDryRun(folder) : RemoveDirectoryA(folder.c_str()) != FALSE) {
        if (DryRun) return PretendRemoved("folder", folder);
        Record(Outcome::Removed, "folder", folder);
    } else if (orAtNextBoot) {
        if (!DryRun && RestartNeeded && IsNTPlatform() &&
            MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            Record(Outcome::Deferred, "folder", folder, "removed then if it is empty");
        else
            Record(Outcome::Kept, "folder", folder, "not empty");
    }
}

void RemoveFolderTree(const std::string& folder) {
    if (!FolderExists(folder) || RemovedInDryRun(folder))
        return Record(Outcome::Missing, "folder", folder);
    if (DryRun) {
        RemovedTrees.insert(PathKey(folder));
        return Record(Outcome::Removed, "folder", folder, "with everything in it");
    }
    if (DeleteFolderTree(folder, true))
        Record(Outcome::Removed, "folder", folder, "with everything in it");
    else
        RecordFailure("folder", folder, GetLastError());
}

void SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::string& text) {
    bool written = DryRun || RegWriteTyped(key, name, type, text);
    if (written)
        Record(Outcome::Restored, "registry value", ValuePath(key, name));
    else
        RecordFailure("registry value", ValuePath(key, name), 0);
}

void RemoveRegistryValue(const char* kind, const std::string& key, const std::string& name) {
    if (RegValueType(key, name) == REG_NONE && RegValueSize(key, name) == 0)
        return Record(Outcome::Missing, kind, ValuePath(key, name));
    RecordRemoval(DryRun || DeleteRegValue(key, name), kind, ValuePath(key, name), 0);
}

void RemoveCreatedKey(const std::string& path) {
    TStringList subkeys;
    RegEnumSubKeys(path, subkeys);
    for (int i = subkeys.Count() - 1; i >= 0; --i)
        if (Removed.count(UpperCase(path + "\\" + std::string(subkeys.Strings(i)))) != 0) subkeys.Delete(i);
    if (!subkeys.Empty()) return Record(Outcome::Kept, "registry key", path, "has subkeys");
    if (DryRun) {
        Removed.insert(UpperCase(path));
        return Record(Outcome::Removed, "registry key", path);
    }
    RecordRemoval(DeleteRegKey(path, false), "registry key", path, 0);
}

IniEdit ChangeIniEntry(const std::string& file, const std::string& section, const std::string& key,
                       const std::string* value) {
    const std::string entry = file + " [" + section + "] " + key;
    IniEdit result = DryRun ? PlanIniEdit(file, section, key, value) : EditIniFile(file, section, key, value);
    switch (result) {
        case IniEdit::Changed: Record(value ? Outcome::Restored : Outcome::Removed, "INI entry", entry); break;
        case IniEdit::Unchanged: Record(Outcome::Unchanged, "INI entry", entry); break;
        case IniEdit::Unreadable: Record(Outcome::Kept, "INI entry", entry, "the file is not plain text"); break;
    }
    return result;
}
