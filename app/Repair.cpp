#include "Repair.h"
// Placeholder until the repair launch lands.
void LaunchRepair() {}
