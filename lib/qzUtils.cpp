#include "qzUtils.h"
// Placeholder until restart and self-removal land.
bool RestartWindows(bool) { return false; }
