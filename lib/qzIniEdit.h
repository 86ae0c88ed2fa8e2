// In-place edits of INI files that belong to other programs and to the user. Restoring one
// entry changes that entry's line only: comments, blank lines, lines without "=", duplicate
// sections, quotes, line ends and a byte-order mark all stay as they are. (The log itself is
// read by the section engine of qzIniFile, with its own rules.)
#pragma once

#include <string>

enum class IniEdit {
    Changed,     // the text holds the edit
    Unchanged,   // nothing to do: the entry to delete is not there, or has the value already
    Unreadable,  // UTF-16 text or NUL bytes: left alone, an edit could destroy it
};

// Sets key in section to *value, or deletes the key when value is null. Sections and keys
// are matched case-insensitively, without the blanks around them; lines starting with ";"
// are comments. A set changes the first line of the key within any section of that name,
// keeping what stands up to the value; without one, it adds "key=value" after the last
// entry of the first such section, or the section at the end. A delete removes every line
// of the key in those sections. New lines end as the text's first line does (CR LF when
// there is none).
IniEdit EditIniText(std::string& text, const std::string& section, const std::string& key,
                    const std::string* value);

// EditIniText on the file's bytes, written back only when changed. A missing file is
// created for a set (with its folders) and left alone for a delete. Raises EInOutError
// ("Cannot open file %s") when the file exists but cannot be read or written.
IniEdit EditIniFile(const std::string& file, const std::string& section, const std::string& key,
                    const std::string* value);
// What EditIniFile would do, without writing anything.
IniEdit PlanIniEdit(const std::string& file, const std::string& section, const std::string& key,
                    const std::string* value);
