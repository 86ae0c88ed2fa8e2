// The general ordered string list: text entries in order, each with one attached object
// that the list does not own, duplicates allowed, unsorted unless Sort is called.
// Comparisons (sorting, lookups by text or by name) ignore case in the user's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The platform's case-insensitive comparison in the user's default locale: <0, 0 or >0.
int CompareText(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);

class TStringList {
public:
    struct Entry {
        std::string text;
        void* object = nullptr;  // borrowed: the list never frees it
    };

    TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(entries_.size()); }
    bool Empty() const { return entries_.empty(); }
    const std::string& Strings(int index) const { return entries_[index].text; }
    void SetString(int index, std::string text) {
        entries_[index].text = std::move(text);
        Changed();
    }
    void* Objects(int index) const { return entries_[index].object; }
    void SetObject(int index, void* object) { entries_[index].object = object; }
    const std::vector<Entry>& Entries() const { return entries_; }

    int Add(std::string text, void* object = nullptr);
    void Insert(int index, std::string text, void* object = nullptr);
    void Delete(int index);
    void Clear() {
        entries_.clear();
        Changed();
    }
    // Replaces the whole content, texts and objects, by the other list's.
    void Assign(const TStringList& other) {
        entries_ = other.entries_;
        nameIndex_ = other.nameIndex_;
        lookups_ = other.lookups_;
    }
    // Appends all of the other list's entries.
    void AddStrings(const TStringList& other);
    // Stable sort by CompareText.
    void Sort();

    // Index of the first entry whose text equals the given one (case-insensitive), or -1.
    virtual int IndexOf(const std::string& text);
    // Binary search in a list kept sorted by CompareText: true when found; index is the
    // position of the match, or where the text would be inserted.
    bool Find(const std::string& text, int& index) const;

    // Name/value views of entries of the form name=value.
    std::string Names(int index) const;                   // text before the first "="; "" without "="
    int IndexOfName(const std::string& name) const;       // first entry with that name, or -1
    std::string Values(const std::string& name) const;    // text after "name=" of that entry, or ""

private:
    // The names' sort keys hashed, with their entries' indexes, ordered by hash and index.
    struct NameIndex {
        std::vector<std::pair<uint64_t, int>> byHash;
        int firstEmpty = -1;  // the first entry whose name is empty
    };
    void Changed() {
        nameIndex_.reset();
        lookups_ = 0;
    }
    int IndexOfNameByHash(const std::string& name) const;

    std::vector<Entry> entries_;
    // Built by the second lookup by name after a change, and shared by copies until either
    // changes: a list searched by name again and again is searched by hash instead.
    mutable std::shared_ptr<const NameIndex> nameIndex_;
    mutable int lookups_ = 0;
};
