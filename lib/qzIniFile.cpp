#include "qzIniFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "qzFileUtils.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
bool IsControlOrBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Trims in place: each line of a large file is cut once at each end, never copied.
void TrimLine(std::string& line) {
    size_t last = line.size();
    while (last > 0 && IsControlOrBlank(line[last - 1])) --last;
    line.erase(last);
    size_t first = 0;
    while (first < line.size() && IsControlOrBlank(line[first])) ++first;
    line.erase(0, first);
}

bool IsSectionHeader(const std::string& line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

// Blanks and tabs directly before and after the first "=" go, each run in one erase; a
// line that begins with "=" stays as it is.
void TrimAroundFirstEquals(std::string& line) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return;
    size_t keyEnd = equals;
    while (keyEnd > 0 && IsBlankOrTab(line[keyEnd - 1])) --keyEnd;
    line.erase(keyEnd, equals - keyEnd);
    if (keyEnd == 0) return;
    size_t valueStart = keyEnd + 1;
    while (valueStart < line.size() && IsBlankOrTab(line[valueStart])) ++valueStart;
    line.erase(keyEnd + 1, valueStart - keyEnd - 1);
}

// One pair of equal quotes (double quotes or apostrophes) around a value of at least two
// characters goes; quotes inside the value stay.
void StripOuterValueQuotes(std::string& line) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 2 >= line.size()) return;
    char quote = line[equals + 1];
    if ((quote != '"' && quote != '\'') || line.back() != quote) return;
    line.pop_back();
    line.erase(equals + 1, 1);
}

// The first entry from start on, wrapping around to 0, whose text equals name; -1 when
// none. A start outside the list counts as 0.
int SearchFrom(const TStringList& list, int start, const std::string& name) {
    int count = list.Count();
    if (start < 0 || start >= count) start = 0;
    for (int n = 0; n < count; ++n) {
        int index = (start + n) % count;
        if (SameText(list.Strings(index), name)) return index;
    }
    return -1;
}

// Appends the bytes from..to without their LFs.
void AppendWithoutLf(std::string& line, const char* from, const char* to) {
    while (from < to) {
        const char* lf = static_cast<const char*>(std::memchr(from, '\n', to - from));
        line.append(from, lf ? lf : to);
        from = lf ? lf + 1 : to;
    }
}

// Cuts bytes, handed in one block or several, into lines: a line ends at CR and every LF is
// dropped wherever it occurs. Both forms of ForEachTextLine go through it.
class LineCutter {
public:
    explicit LineCutter(const std::function<void(std::string& line)>& take) : take_(take) {}

    // Takes the bytes at..end and returns how many it used: all of them, or those up to the
    // first CR that ends a line at limit bytes or later (what follows it is not wanted).
    int64_t Cut(const char* at, const char* end, int64_t limit) {
        const char* const start = at;
        while (at < end) {
            const char* cr = static_cast<const char*>(std::memchr(at, '\r', end - at));
            AppendWithoutLf(line_, at, cr ? cr : end);
            if (!cr) {
                unfinished_ = true;
                return end - start;
            }
            at = cr + 1;
            take_(line_);
            line_.clear();
            unfinished_ = false;
            if (at - start >= limit) break;
        }
        return at - start;
    }
    // Bytes of a line that no CR has ended yet were cut.
    bool Unfinished() const { return unfinished_; }
    // Hands that last line, if there is one.
    void Finish() {
        if (unfinished_) take_(line_);
        unfinished_ = false;
    }

private:
    const std::function<void(std::string& line)>& take_;
    std::string line_;
    bool unfinished_ = false;
};

}  // namespace

// ---- Reading lines ----

void ForEachTextLine(HANDLE file, const std::function<void(std::string& line)>& take) {
    // The end is taken once: a writer appending meanwhile cannot keep the load going forever.
    int64_t position = FilePosition(file);  // of the next byte not yet taken
    int64_t size = FileSize(file);
    if (size < 0 || position < 0) return;
    std::vector<char> block(kTextBlockSize);
    LineCutter cutter(take);
    // As with ReadTextLine, a line begun before the end is read on to its CR.
    while (position < size || cutter.Unfinished()) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), kTextBlockSize, &read, nullptr) || read == 0) break;
        position += cutter.Cut(block.data(), block.data() + read, size - position);
    }
    cutter.Finish();
}

void ForEachTextLine(const std::string& text, const std::function<void(std::string& line)>& take) {
    LineCutter cutter(take);
    cutter.Cut(text.data(), text.data() + text.size(), static_cast<int64_t>(text.size()));
    cutter.Finish();
}

// ---- TSectionList ----

TSectionList::~TSectionList() { ClearSections(); }

int TSectionList::IndexOf(const std::string& name) {
    int index = SearchFrom(*this, LastIndex, name);
    if (index >= 0) LastIndex = index;
    return index;
}

bool TSectionList::MergeDuplicates() {
    if (Count() < 2) return false;
    // Section indexes ordered by name; the stable sort keeps equal names in file order.
    std::vector<int> order(static_cast<size_t>(Count()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [this](int a, int b) { return CompareText(Strings(a), Strings(b)) < 0; });
    std::vector<bool> discarded(order.size(), false);
    bool merged = false;
    int survivor = order[0];
    for (size_t i = 1; i < order.size(); ++i) {
        int entry = order[i];
        if (!SameText(Strings(entry), Strings(survivor))) {
            survivor = entry;
            continue;
        }
        int later = std::max(entry, survivor);
        survivor = std::min(entry, survivor);
        LinesAt(later)->Clear();
        discarded[static_cast<size_t>(later)] = true;
        merged = true;
    }
    if (!merged) return false;
    // Rebuilt in one pass: deleting entries one by one would be quadratic in the number of
    // duplicates.
    TStringList kept;
    for (int i = 0; i < Count(); ++i) {
        if (discarded[static_cast<size_t>(i)])
            FreeLines(i);
        else
            kept.Add(Strings(i), Objects(i));
    }
    TStringList::Assign(kept);
    return true;
}

int TSectionList::AddSection(std::string_view name) {
    auto lines = std::make_unique<TStringList>();
    int index = TStringList::Add(name, lines.get());
    lines.release();  // owned by the entry from now on
    return index;
}

void TSectionList::DeleteSection(int index) {
    FreeLines(index);
    TStringList::Delete(index);
}

void TSectionList::ClearSections() {
    for (int i = 0; i < Count(); ++i) FreeLines(i);
    TStringList::Clear();
}

void TSectionList::FreeLines(int index) {
    delete LinesAt(index);
    TStringList::SetObject(index, nullptr);
}

// ---- TqzIniFile: construction and loading ----

TqzIniFile::TqzIniFile(const std::string& fileName, bool readOnly)
    : TqzIniFile(fileName, readOnly, true, true, true, true) {}

TqzIniFile::TqzIniFile(const std::string& fileName, bool readOnly, bool skipComments,
                       bool skipLinesWithoutEquals, bool trimAroundEquals, bool stripValueQuotes)
    : readOnly_(readOnly),
      skipComments_(skipComments),
      skipLinesWithoutEquals_(skipLinesWithoutEquals),
      trimAroundEquals_(trimAroundEquals),
      stripValueQuotes_(stripValueQuotes) {
    SetFileName(fileName);
}

TqzIniFile::TqzIniFile(const std::string& fileName, const TqzIniFile& model)
    : fileName_(fileName),
      readOnly_(true),
      skipComments_(model.skipComments_),
      skipLinesWithoutEquals_(model.skipLinesWithoutEquals_),
      trimAroundEquals_(model.trimAroundEquals_),
      stripValueQuotes_(model.stripValueQuotes_) {
    const TSectionList& from = model.sections_;
    for (int i = 0; i < from.Count(); ++i)
        sections_.LinesAt(sections_.AddSection(from.Strings(i)))->Assign(*from.LinesAt(i));
}

TqzIniFile::~TqzIniFile() { UpdateFile(); }

void TqzIniFile::SetFileName(const std::string& path) {
    UpdateFile();
    fileHandle_.Reset();
    openFailed_ = false;  // a new file gets its own chance to be written
    ClearSections();
    // A bare file name lives in the Windows folder; an empty name stays empty (no file).
    bool bareName = !path.empty() && ExtractFilePath(path).empty();
    fileName_ = bareName ? IncludeTrailingBackslash(GetWindowsDir()) + path : path;
    if (!path.empty()) LoadFromFile(fileName_);
    modified_ = false;  // dropped duplicate sections alone are no change to write back
}

void TqzIniFile::LoadFromFile(const std::string& path) {
    currentSection_ = 0;
    fileHandle_.Reset();
    if (!FileExists(path)) return;
    // Read-write engines keep the file open, readable but not writable by others.
    DWORD access = readOnly_ ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD share = readOnly_ ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    DWORD disposition = readOnly_ ? OPEN_EXISTING : OPEN_ALWAYS;
    fileHandle_.Reset(OpenFileHandle(path, access, share, disposition, FILE_ATTRIBUTE_NORMAL));
    if (!UsableHandle(fileHandle_.Get()))
        throw EInOutError(FormatOneString("Cannot open file %s", path));
    ParseLines([this](const std::function<void(std::string&)>& take) {
        ForEachTextLine(fileHandle_.Get(), take);
    });
    if (readOnly_) fileHandle_.Reset();
}

void TqzIniFile::LoadFromText(const std::string& text) {
    ClearSections();
    currentSection_ = 0;
    ParseLines([&text](const std::function<void(std::string&)>& take) { ForEachTextLine(text, take); });
    modified_ = false;
}

void TqzIniFile::ParseLines(
    const std::function<void(const std::function<void(std::string&)>&)>& forEachLine) {
    TStringList* current = nullptr;  // lines before the first header have no section
    forEachLine([&](std::string& line) {
        TrimLine(line);
        if (line.empty() || (skipComments_ && line[0] == ';')) return;
        if (IsSectionHeader(line)) {
            current = sections_.LinesAt(sections_.AddSection(std::string_view(line).substr(1, line.size() - 2)));
            return;
        }
        line = ParseKeyLine(std::move(line));
        if (current && !line.empty()) current->Add(line);  // a copy: the line's buffer serves the next one
    });
    sections_.MergeDuplicates();
}

std::string TqzIniFile::ParseKeyLine(std::string line) const {
    if (trimAroundEquals_) TrimAroundFirstEquals(line);
    if (stripValueQuotes_) StripOuterValueQuotes(line);
    if (skipLinesWithoutEquals_ && line.find('=') == std::string::npos) line.clear();
    return line;
}

// ---- TqzIniFile: the model ----

TStringList* TqzIniFile::FindSectionKey(const std::string& section, const std::string& key,
                                        bool create, int& lineIndex) {
    lineIndex = -1;
    int index = SearchFrom(sections_, currentSection_, section);
    if (index < 0) {
        if (!create) return nullptr;
        index = sections_.AddSection(section);
    }
    currentSection_ = index;
    TStringList* lines = sections_.LinesAt(index);
    lineIndex = lines->IndexOfName(key);
    return lines;
}

std::string TqzIniFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) {
    int lineIndex = -1;
    TStringList* lines = FindSectionKey(section, key, false, lineIndex);
    if (lineIndex < 0) return defaultValue;
    return ValuePart(lines->Strings(lineIndex));
}

void TqzIniFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    if (key.empty()) {
        if (section.empty() && value.empty())
            UpdateFile();
        else
            EraseSection(section);
        return;
    }
    std::string line = key + "=" + value;
    int lineIndex = -1;
    TStringList* lines = FindSectionKey(section, key, true, lineIndex);
    if (lineIndex < 0) {
        lines->Add(std::move(line));
        modified_ = true;
    } else if (lines->Strings(lineIndex) != line) {
        lines->SetString(lineIndex, std::move(line));
        modified_ = true;
    }
}

int32_t TqzIniFile::ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue) {
    std::string text = ReadString(section, key, "");
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

void TqzIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, IntToStr(value));
}

bool TqzIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TqzIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TqzIniFile::ReadSection(const std::string& section, TStringList& target) {
    int index = sections_.IndexOf(section);
    if (index < 0) return;
    const TStringList& lines = *sections_.LinesAt(index);
    int count = lines.Count();  // fixed: the target may be that very list
    for (int i = 0; i < count; ++i) target.Add(lines.Names(i));
}

void TqzIniFile::ReadSections(TStringList& target) {
    target.Clear();
    for (int i = 0; i < sections_.Count(); ++i) target.Add(sections_.Strings(i));
}

void TqzIniFile::ReadSectionValues(const std::string& section, TStringList& target) {
    int index = sections_.IndexOf(section);
    if (index < 0) return;
    const TStringList& lines = *sections_.LinesAt(index);
    if (target.Empty()) return target.Assign(lines);
    TStringList result(lines);
    for (int i = 0; i < target.Count(); ++i)
        if (lines.IndexOfName(target.Names(i)) < 0) result.Add(target.Strings(i), target.Objects(i));
    target.Assign(result);
}

void TqzIniFile::WriteSectionValues(const std::string& section, const TStringList& source) {
    // A copy: the source may be a line list of this engine, which the writes change or free.
    const TStringList lines(source);
    for (int i = 0; i < lines.Count(); ++i)
        WriteString(section, TextBefore(lines.Strings(i), '='), ValuePart(lines.Strings(i)));
}

void TqzIniFile::EraseSection(const std::string& section) {
    int index = sections_.IndexOf(section);
    if (index < 0) return;
    sections_.DeleteSection(index);
    sections_.LastIndex = 0;
    modified_ = true;
}

void TqzIniFile::DeleteKey(const std::string& section, const std::string& key) {
    int lineIndex = -1;
    TStringList* lines = FindSectionKey(section, key, true, lineIndex);
    if (lineIndex < 0) return;
    lines->Delete(lineIndex);
    modified_ = true;
}

void TqzIniFile::EmitModel(const std::function<bool(const std::string&)>& emit) const {
    for (int i = 0; i < sections_.Count(); ++i) {
        const TStringList& lines = *sections_.LinesAt(i);
        if (lines.Empty()) continue;
        if (!emit("[" + std::string(sections_.Strings(i)) + "]")) return;
        for (int j = 0; j < lines.Count(); ++j)
            if (!emit(lines.Strings(j))) return;
        if (!emit(std::string())) return;
    }
}

void TqzIniFile::GetStrings(TStringList& target) {
    EmitModel([&target](const std::string& line) {
        target.Add(line);
        return true;
    });
}

// ---- TqzIniFile: writing back ----

void TqzIniFile::UpdateFile() {
    if (!modified_) return;
    if (!fileName_.empty() && !readOnly_) {
        if (!UsableHandle(fileHandle_.Get()) && !openFailed_) {
            ForceFolders(ExtractFilePath(fileName_));
            fileHandle_.Reset(OpenFileHandle(fileName_, GENERIC_WRITE, FILE_SHARE_READ,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
            openFailed_ = !UsableHandle(fileHandle_.Get());
        }
        if (UsableHandle(fileHandle_.Get())) WriteBack(fileHandle_.Get());
    }
    modified_ = false;
}

void TqzIniFile::WriteBack(HANDLE file) const {
    if (SeekFile(file, 0, FILE_BEGIN) < 0) return;
    // Writing goes on no further than the first failed line (later lines would leave a gap),
    // and the file is then not cut, so the rest of its previous content survives.
    bool written = true;
    EmitModel([&](const std::string& line) { return written = WriteTextLine(file, line); });
    if (written) SetEndOfFile(file);
}
