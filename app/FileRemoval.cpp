#include "Removal.h"
// Placeholder until the file removal lands.
void LoadSectionLines(const std::string&) {}
std::string EntryKey(const std::string&) { return std::string(); }
void RemoveFiles() {}
