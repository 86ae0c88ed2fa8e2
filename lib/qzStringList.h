// The general ordered string list: text entries in order, each with one attached object
// that the list does not own, duplicates allowed, unsorted unless Sort is called.
// Comparisons (sorting, lookups by text or by name) ignore case in the user's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An entry's text: a view of bytes that the list keeps, valid while the list holds the entry
// unchanged. It converts to std::string wherever one is asked for.
class TListText : public std::string_view {
public:
    constexpr TListText() noexcept : std::string_view("", 0) {}
    constexpr TListText(const char* data, size_t size) noexcept : std::string_view(data, size) {}
    operator std::string() const { return std::string(data(), size()); }
};

// The platform's case-insensitive comparison in the user's default locale: <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// The texts are not one heap block each: they are copied into blocks that the list fills one
// after the other, and that copies of the list share, so copying a list copies no text. A
// block is written only by the list that made it, behind every text that was kept in it.
class TStringList {
public:
    struct Entry {
        TListText text;
        void* object = nullptr;  // borrowed: the list never frees it
    };

    TStringList() = default;
    TStringList(const TStringList& other) { Assign(other); }
    TStringList& operator=(const TStringList& other) {
        Assign(other);
        return *this;
    }
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(entries_.size()); }
    bool Empty() const { return entries_.empty(); }
    TListText Strings(int index) const { return entries_[index].text; }
    void SetString(int index, std::string_view text) {
        entries_[index].text = Keep(text);
        Changed();
    }
    void* Objects(int index) const { return entries_[index].object; }
    void SetObject(int index, void* object) { entries_[index].object = object; }
    const std::vector<Entry>& Entries() const { return entries_; }

    int Add(std::string_view text, void* object = nullptr);
    void Insert(int index, std::string_view text, void* object = nullptr);
    void Delete(int index);
    void Clear();
    // Replaces the whole content, texts and objects, by the other list's; the texts are
    // shared, not copied.
    void Assign(const TStringList& other);
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
    // A copy of the text in this list's last block (a new one when it is full or shared).
    TListText Keep(std::string_view text);

    std::vector<Entry> entries_;
    std::vector<std::shared_ptr<char[]>> blocks_;  // every block an entry's text may lie in
    char* free_ = nullptr;                         // the unused end of the last block, ours
    size_t freeSize_ = 0;
    // Built by the second lookup by name after a change, and shared by copies until either
    // changes: a list searched by name again and again is searched by hash instead.
    mutable std::shared_ptr<const NameIndex> nameIndex_;
    mutable int lookups_ = 0;
};
