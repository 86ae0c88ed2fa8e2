#include "Removal.h"
// Placeholder until shortcuts and folders land.
void RemoveShortcuts() {}
void RemoveFolders() {}
