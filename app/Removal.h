// The removal actions, one per log section, called by the worker in its fixed order.
// Each reads its section through LoadSectionLines, reports a status text per item and one
// progress step per entry.
#pragma once

#include <set>
#include <string>

// Shared work list: SectionLines holds the key=value lines of one log section at a time.
// Lines holding a NUL byte are left out (see HoldsNul).
void LoadSectionLines(const std::string& section);
bool HoldsNul(const std::string& text);
// Writes the lines left out so to the report.
void RecordMalformedLines();
std::string EntryKey(const std::string& line);  // the text before the last "="
// Replaces every line by its EntryKey and sorts the list, so that a walk from the end
// meets every path before the paths that are a prefix of it (subkeys, subfolders first).
void SortSectionKeys();

// Files of DataFiles (when RemoveDataFiles) and CopyFiles. A file in use is deleted at the
// next boot and raises RestartNeeded.
void RemoveFiles();
// Shortcuts (.lnk and .pif); data folders (when RemoveDataFiles) as whole trees, then the
// log, then the created folders that are empty, deepest first.
void RemoveShortcuts();
void RemoveFolders();
// After the last RunApp program succeeded: the log, and the created folder that held it
// when it is empty now (RemoveFolders keeps the log while RunApp programs are to run).
void RemoveLogAndItsFolder();
// Registry values put back or deleted, created keys deleted; INI entries put back or
// deleted in place, one line each (qzIniEdit). RemoveIniEntries lets the
// EInOutError of an INI file that cannot be opened pass.
std::string ExtractKeyPath(const std::string& name);
std::string ExtractValueName(const std::string& name);
void RemoveRegistryEntries();
void RemoveIniEntries();
// COM servers and fonts.
void UnregisterServers();
void RemoveFonts();
// Shared files. KeptLongNames gives the shared files that must stay in their upper-cased
// long spelling, LongNameKey any path so: every removal compares a file it is about to delete
// with them, whatever spelling, mask or companion led to it.
void ReleaseSharedFiles();
std::string LongNameKey(const std::string& path);
std::set<std::string> KeptLongNames();
int AskDeleteSharedFile(const std::string& path);
// Assemblies and application runs.
void UninstallAssemblies();
bool RunSection(bool pre);
bool RunEntry(const std::string& value);
int SectionEntryCount(const std::string& section);
