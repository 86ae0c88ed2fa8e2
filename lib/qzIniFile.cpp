#include "qzIniFile.h"
// Placeholder until the engine lands.
TSectionList::~TSectionList() {}
int TSectionList::IndexOf(const std::string&) { return -1; }
TqzIniFile::TqzIniFile(const std::string& f, bool r) : TqzIniFile(f, r, true, true, true, true) {}
TqzIniFile::TqzIniFile(const std::string& f, bool r, bool a, bool b, bool c, bool d) : fileName_(f), readOnly_(r), skipComments_(a), skipLinesWithoutEquals_(b), trimAroundEquals_(c), stripValueQuotes_(d) {}
TqzIniFile::~TqzIniFile() {}
std::string TqzIniFile::ReadString(const std::string&, const std::string&, const std::string& d) { return d; }
void TqzIniFile::WriteString(const std::string&, const std::string&, const std::string&) {}
int32_t TqzIniFile::ReadInteger(const std::string&, const std::string&, int32_t d) { return d; }
void TqzIniFile::WriteInteger(const std::string&, const std::string&, int32_t) {}
bool TqzIniFile::ReadBool(const std::string&, const std::string&, bool d) { return d; }
void TqzIniFile::WriteBool(const std::string&, const std::string&, bool) {}
void TqzIniFile::ReadSection(const std::string&, TStringList&) {}
void TqzIniFile::ReadSections(TStringList&) {}
void TqzIniFile::ReadSectionValues(const std::string&, TStringList&) {}
void TqzIniFile::WriteSectionValues(const std::string&, const TStringList&) {}
void TqzIniFile::EraseSection(const std::string&) {}
void TqzIniFile::DeleteKey(const std::string&, const std::string&) {}
void TqzIniFile::GetStrings(TStringList&) {}
void TqzIniFile::UpdateFile() {}
