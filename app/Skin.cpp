#include "Skin.h"
#include "Globals.h"
#include "qzRegIni.h"
// Placeholder until page skinning lands.
std::string ReadLogText(const std::string& section, const std::string& key, const std::string& def) {
    (void)section; (void)key; return def;
}
std::string StringsEntry(int) { return std::string(); }
