#include "qzIniEdit.h"

#include <vector>

#include "qzErrors.h"
#include "qzFileUtils.h"
#include "qzHandles.h"
#include "qzStringList.h"
#include "qzStrUtils.h"

namespace {

// One line of the text: where its content starts and ends, and where its line end ends.
struct Line {
    size_t start, end, next;
};

std::vector<Line> SplitLines(const std::string& text, size_t from) {
    std::vector<Line> lines;
    for (size_t at = from; at < text.size();) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back({at, text.size(), text.size()});
            break;
        }
        size_t next = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        lines.push_back({at, end, next});
        at = next;
    }
    return lines;
}

bool SameName(const std::string& a, const std::string& b) {
    return CompareText(Trim(a), Trim(b)) == 0;
}

// The section a header line names; false for any other line.
bool SectionHeader(const std::string& line, std::string& name) {
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[') return false;
    size_t close = trimmed.find(']');
    if (close == std::string::npos) return false;
    name = trimmed.substr(1, close - 1);
    return true;
}

// Whether the line is an entry of the key: the part before its first "=", without blanks.
bool EntryOf(const std::string& line, const std::string& key) {
    std::string trimmed = Trim(line);
    size_t equals = line.find('=');
    return !trimmed.empty() && trimmed[0] != ';' && equals != std::string::npos &&
           SameName(line.substr(0, equals), key);
}

std::string LineEnd(const std::string& text, const std::vector<Line>& lines) {
    for (const Line& line : lines)
        if (line.next > line.end) return text.substr(line.end, line.next - line.end);
    return "\r\n";
}

bool Unreadable(const std::string& text) {
    return text.find('\0') != std::string::npos || text.compare(0, 2, "\xFF\xFE") == 0 ||
           text.compare(0, 2, "\xFE\xFF") == 0;
}

bool EndsLine(const std::string& text, size_t bom) {
    return text.size() == bom || text.back() == '\n' || text.back() == '\r';
}

// Adds the entry at insertAt (after the last line of its section), or with its section at
// the end; a last line without a line end gets one first.
void AddEntry(std::string& text, size_t insertAt, size_t bom, const std::string& section,
              const std::string& entry, const std::string& newLine) {
    if (insertAt == std::string::npos) {
        text += (EndsLine(text, bom) ? "" : newLine) + "[" + section + "]" + newLine + entry + newLine;
    } else if (insertAt == text.size()) {
        text += (EndsLine(text, bom) ? "" : newLine) + entry + newLine;
    } else {
        text.insert(insertAt, entry + newLine);
    }
}

}  // namespace

IniEdit EditIniText(std::string& text, const std::string& section, const std::string& key,
                    const std::string* value) {
    if (Unreadable(text)) return IniEdit::Unreadable;
    const size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::vector<Line> lines = SplitLines(text, bom);
    const std::string newLine = LineEnd(text, lines);
    std::string edited = text.substr(0, bom);
    int sections = 0;       // sections of that name so far
    bool inSection = false, found = false;
    size_t insertAt = std::string::npos;  // after the last non-blank line of the first one
    for (const Line& line : lines) {
        const std::string content = text.substr(line.start, line.end - line.start);
        const std::string ending = text.substr(line.end, line.next - line.end);
        std::string name, kept = content + ending;
        if (SectionHeader(content, name)) {
            inSection = SameName(name, section);
            if (inSection) ++sections;
        } else if (inSection && EntryOf(content, key) && !(value && found)) {
            found = true;
            if (!value) continue;
            size_t start = content.find('=') + 1;
            while (start < content.size() && (content[start] == ' ' || content[start] == '\t')) ++start;
            kept = content.substr(0, start) + *value + ending;
        }
        edited += kept;
        if (inSection && sections == 1 && !Trim(content).empty()) insertAt = edited.size();
    }
    if (value && !found) AddEntry(edited, insertAt, bom, section, key + "=" + *value, newLine);
    if (edited == text) return IniEdit::Unchanged;
    text.swap(edited);
    return IniEdit::Changed;
}

namespace {

IniEdit EditFileText(const std::string& file, bool exists, const std::string& section,
                     const std::string& key, const std::string* value, std::string& text) {
    if (!exists && !value) return IniEdit::Unchanged;
    text = exists ? ReadWholeFile(file) : "";
    return EditIniText(text, section, key, value);
}

}  // namespace

IniEdit PlanIniEdit(const std::string& file, const std::string& section, const std::string& key,
                    const std::string* value) {
    std::string text;
    return EditFileText(file, FileExists(file), section, key, value, text);
}

IniEdit EditIniFile(const std::string& file, const std::string& section, const std::string& key,
                    const std::string* value) {
    const bool exists = FileExists(file);
    std::string text;
    IniEdit result = EditFileText(file, exists, section, key, value, text);
    if (result != IniEdit::Changed) return result;
    if (!exists) ForceFolders(ExtractFilePath(file));
    // An existing file is overwritten in place, so that its attributes, which CREATE_ALWAYS
    // would have to match, stay as they are.
    qz::UniqueHandle out(OpenFileHandle(file, GENERIC_WRITE, 0, exists ? OPEN_EXISTING : CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL));
    DWORD written = 0;
    if (!UsableHandle(out.Get()) ||
        !WriteFile(out.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !SetEndOfFile(out.Get()))
        throw EInOutError("Cannot open file " + file);
    return result;
}
