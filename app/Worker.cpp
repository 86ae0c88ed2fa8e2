#include "Worker.h"
// Placeholder until the worker lands.
bool RunUninstall() { return false; }
