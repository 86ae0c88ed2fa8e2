#include "Removal.h"
// Placeholder until COM servers and fonts land.
void UnregisterServers() {}
void RemoveFonts() {}
