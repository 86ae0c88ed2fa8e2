#include "Removal.h"
// Placeholder until registry and INI entries land.
void RemoveRegistryEntries() {}
void RemoveIniEntries() {}
