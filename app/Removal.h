// The removal actions, one per log section, called by the worker in its fixed order.
// Each reads its section through LoadSectionLines, reports a status text per item and one
// progress step per entry.
#pragma once

#include <string>

// Shared work list.
void LoadSectionLines(const std::string& section);
std::string EntryKey(const std::string& line);  // the text before the last "="

// Files.
void DeleteMatchingFiles(const std::string& mask);
void RemoveFiles();
// Shortcuts and folders.
void RemoveShortcuts();
void RemoveFolders();
// Registry and INI entries.
std::string ExtractKeyPath(const std::string& name);
std::string ExtractValueName(const std::string& name);
void RemoveRegistryEntries();
void RemoveIniEntries();
// COM servers and fonts.
void UnregisterServers();
void RemoveFonts();
// Shared files.
void ReleaseSharedFiles();
int AskDeleteSharedFile(const std::string& path);
// Assemblies and application runs.
void UninstallAssemblies();
bool RunSection(bool pre);
bool RunEntry(const std::string& value);
int SectionEntryCount(const std::string& section);
