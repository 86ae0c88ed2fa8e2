#include "Removal.h"
// Placeholder until shared files land.
void ReleaseSharedFiles() {}
