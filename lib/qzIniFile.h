// An INI-syntax text file held in memory as an ordered list of sections, each an ordered
// list of "key=value" lines. The file is parsed once, when the engine is created; writes
// change only the model; UpdateFile rewrites the whole file from it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "qzErrors.h"
#include "qzHandles.h"
#include "qzStringList.h"

// Block size of ForEachTextLine.
constexpr DWORD kTextBlockSize = 64 * 1024;

// Hands take every line from the file's current position on, exactly as repeated
// ReadTextLine calls would give them while the position is before the end the file had
// when the call began: a line ends at CR, every LF is dropped wherever it occurs, and a
// last line without CR is handed too. Reads kTextBlockSize bytes at a time instead of 100,
// so a large file costs a few calls instead of three per line. Stops at the first read
// that fails or gives nothing, so a file shorter than its reported size cannot hang it.
// The file position afterwards is unspecified.
void ForEachTextLine(HANDLE file, const std::function<void(std::string& line)>& take);
// Hands take every line of text, exactly as the file form would from a file holding those
// bytes, read from its start.
void ForEachTextLine(const std::string& text, const std::function<void(std::string& line)>& take);

// The sections of a file in file order: entry text = section name as written, entry object
// = the section's line list, owned by this list.
class TSectionList : public TStringList {
public:
    TSectionList() = default;
    TSectionList(const TSectionList&) = delete;
    TSectionList& operator=(const TSectionList&) = delete;
    ~TSectionList() override;

    int32_t LastIndex = 0;  // where the next IndexOf starts

    // Case-insensitive search starting at LastIndex, wrapping around; -1 when absent.
    int IndexOf(const std::string& name) override;
    // Drops every later section whose name equals an earlier one; true when any went.
    bool MergeDuplicates();
    TStringList* LinesAt(int index) const { return static_cast<TStringList*>(Objects(index)); }

    int AddSection(std::string_view name);  // appends a section with an empty line list
    void DeleteSection(int index);
    void ClearSections();

private:
    void FreeLines(int index);

    // Entries must come and go with their line lists, and no other list may share them.
    using TStringList::Add;
    using TStringList::AddStrings;
    using TStringList::Assign;
    using TStringList::Clear;
    using TStringList::Delete;
    using TStringList::Insert;
    using TStringList::SetObject;
};

class TqzIniFile {
public:
    // Create: all four parse options on. Both constructors raise EInOutError
    // ("Cannot open file %s") when the file exists but cannot be opened.
    TqzIniFile(const std::string& fileName, bool readOnly);
    TqzIniFile(const std::string& fileName, bool readOnly, bool skipComments,
               bool skipLinesWithoutEquals, bool trimAroundEquals, bool stripValueQuotes);
    // A read-only engine of the file holding a copy of the other engine's model, which
    // shares its texts: the model that loading the file under the other's parse options
    // built, without reading the file again. No file is opened.
    TqzIniFile(const std::string& fileName, const TqzIniFile& model);
    TqzIniFile(const TqzIniFile&) = delete;
    TqzIniFile& operator=(const TqzIniFile&) = delete;
    // Destroy: writes pending changes back, then closes the file.
    virtual ~TqzIniFile();

    void SetFileName(const std::string& path);
    // Replaces the model by the one parsed from text, exactly as loading a file holding those
    // bytes builds it (the file load goes through the same parse); the file is not touched.
    void LoadFromText(const std::string& text);

    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue);
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value);
    virtual int32_t ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue);
    virtual void WriteInteger(const std::string& section, const std::string& key, int32_t value);
    virtual bool ReadBool(const std::string& section, const std::string& key, bool defaultValue);
    virtual void WriteBool(const std::string& section, const std::string& key, bool value);
    virtual void ReadSection(const std::string& section, TStringList& target);
    virtual void ReadSections(TStringList& target);
    virtual void ReadSectionValues(const std::string& section, TStringList& target);
    virtual void WriteSectionValues(const std::string& section, const TStringList& source);
    virtual void EraseSection(const std::string& section);
    virtual void DeleteKey(const std::string& section, const std::string& key);
    virtual void GetStrings(TStringList& target);
    virtual void UpdateFile();

    const std::string& FileName() const { return fileName_; }
    bool ReadOnly() const { return readOnly_; }
    bool Modified() const { return modified_; }
    TSectionList& Sections() { return sections_; }

private:
    void LoadFromFile(const std::string& path);
    void ClearSections() { sections_.ClearSections(); }
    // The line list of the section (created at the end when asked and missing) and the
    // index of the key's first line in it (-1 when none).
    TStringList* FindSectionKey(const std::string& section, const std::string& key, bool create,
                                int& lineIndex);
    // Builds the model from the lines that forEachLine hands to its argument, then drops
    // duplicate sections.
    void ParseLines(const std::function<void(const std::function<void(std::string&)>&)>& forEachLine);
    // A key line after the parse options, or "" when the line is dropped.
    std::string ParseKeyLine(std::string line) const;
    // Hands the file form of the model to emit, line by line, until emit returns false:
    // each section with lines as its header, its lines and one empty line.
    void EmitModel(const std::function<bool(const std::string&)>& emit) const;
    // Rewrites the file through the held handle from its start and cuts it after the model.
    void WriteBack(HANDLE file) const;

    std::string fileName_;
    qz::UniqueHandle fileHandle_;
    bool openFailed_ = false;  // a write-back open failed: later write-backs do nothing
    bool modified_ = false;
    TSectionList sections_;
    int32_t currentSection_ = 0;
    bool readOnly_;
    bool skipComments_;
    bool skipLinesWithoutEquals_;
    bool trimAroundEquals_;
    bool stripValueQuotes_;
};
