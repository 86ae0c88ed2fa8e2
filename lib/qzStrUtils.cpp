#include "qzStrUtils.h"
// Placeholder until the string unit lands.
std::string FormatOneString(const std::string& format, const std::string& argument) { return format + argument; }
std::string ParamStr(const char*, int) { return std::string(); }
