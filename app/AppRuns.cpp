#include "Removal.h"
// Placeholder until assemblies and application runs land.
void UninstallAssemblies() {}
bool RunSection(bool) { return true; }
int SectionEntryCount(const std::string&) { return 0; }
