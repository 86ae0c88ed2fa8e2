// The changes the removal actions make to files, folders and the registry. Each is written
// to the report with its outcome. In a dry run (DryRun) nothing changes: the change is
// recorded as made and remembered, so that later actions see the machine as the walk would
// leave it (a folder whose files would all go counts as empty).
#pragma once

#include <windows.h>

#include <string>

#include "qzIniEdit.h"

// Deletes the file; one that cannot go stays (shortcuts).
void RemoveFileNow(const char* kind, const std::string& path);
// Deletes the file, or at the next boot when it is in use (RestartNeeded is set then).
void RemoveFileOrDefer(const char* kind, const std::string& path);
// Removes the folder when it is empty. With orAtNextBoot, one that still holds anything when
// files wait for the next boot is scheduled after them on the NT family, whose boot-time
// deletion removes a folder once it is empty and keeps the order of the entries (Windows 9x
// cannot delete folders at boot); without, a folder that stays is not reported.
void RemoveFolderIfEmpty(const std::string& folder, bool orAtNextBoot);
// Removes the folder with everything below it; links in it go as links, never followed.
void RemoveFolderTree(const std::string& folder);

void SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::string& text);
void RemoveRegistryValue(const char* kind, const std::string& key, const std::string& name);
// Removes the key unless it has subkeys (the NT family refuses to delete any other, but
// Windows 9x would delete the whole tree, with keys that the log does not name).
void RemoveCreatedKey(const std::string& path);
// Sets or deletes (value null) one INI entry in place (EditIniFile).
IniEdit ChangeIniEntry(const std::string& file, const std::string& section, const std::string& key,
                       const std::string* value);

// In a dry run, whether the walk has already removed the file or folder.
bool RemovedInDryRun(const std::string& path);
// Forgets what a dry run removed.
void ForgetDryRun();
