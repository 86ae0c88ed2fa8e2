#include "Wizard.h"
// Placeholder until the wizard lands.
int32_t RunPage(const std::string&) { return PageCancel; }
int32_t RunPageSequence() { return PageCancel; }
