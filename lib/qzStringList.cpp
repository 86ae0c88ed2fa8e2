#include "qzStringList.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

// Lists shorter than this are searched by name one entry after the other.
const int kIndexedCount = 16;
// Text blocks grow from the first to the ninth, then stay at the largest size; a longer
// text gets a block of its own size.
const size_t kFirstBlockSize = 256;
const size_t kLargestBlockSize = 64 * 1024;

int CompareRanges(const char* a, size_t aLength, const char* b, size_t bLength) {
    int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(aLength),
                                b, static_cast<int>(bLength));
    return result == 0 ? std::string_view(a, aLength).compare(std::string_view(b, bLength)) : result - CSTR_EQUAL;
}

// The length of the name of an entry, or npos for an entry without "=".
size_t NameLength(std::string_view text) { return text.find('='); }

// A hash of the text's sort key for the comparison of CompareText: texts that compare equal
// have equal sort keys, so equal hashes. False when the system gives no sort key.
bool SortKeyHash(const char* text, size_t length, uint64_t& hash) {
    const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    char small[512];
    std::vector<char> large;
    char* key = small;
    int size = LCMapStringA(LOCALE_USER_DEFAULT, flags, text, static_cast<int>(length), small, sizeof small);
    if (size == 0) {
        size = LCMapStringA(LOCALE_USER_DEFAULT, flags, text, static_cast<int>(length), nullptr, 0);
        if (size <= 0) return false;
        large.resize(static_cast<size_t>(size));
        key = large.data();
        size = LCMapStringA(LOCALE_USER_DEFAULT, flags, text, static_cast<int>(length), key, size);
        if (size <= 0) return false;
    }
    hash = 14695981039346656037ull;  // FNV-1a
    for (int i = 0; i < size; ++i) hash = (hash ^ static_cast<unsigned char>(key[i])) * 1099511628211ull;
    return true;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
    return CompareRanges(a.data(), a.size(), b.data(), b.size());
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

TListText TStringList::Keep(std::string_view text) {
    if (text.empty()) return TListText();
    if (text.size() > freeSize_) {
        size_t size = std::max(text.size(), std::min(kLargestBlockSize, kFirstBlockSize << std::min<size_t>(blocks_.size(), 8)));
        blocks_.emplace_back(new char[size]);
        free_ = blocks_.back().get();
        freeSize_ = size;
    }
    // The text may lie in one of our blocks: they stay, and the copy goes behind it.
    std::memcpy(free_, text.data(), text.size());
    TListText kept(free_, text.size());
    free_ += text.size();
    freeSize_ -= text.size();
    return kept;
}

int TStringList::Add(std::string_view text, void* object) {
    entries_.push_back(Entry{Keep(text), object});
    Changed();
    return Count() - 1;
}

void TStringList::Insert(int index, std::string_view text, void* object) {
    entries_.insert(entries_.begin() + index, Entry{Keep(text), object});
    Changed();
}

void TStringList::Delete(int index) {
    entries_.erase(entries_.begin() + index);
    Changed();
}

void TStringList::Clear() {
    entries_.clear();
    blocks_.clear();
    free_ = nullptr;
    freeSize_ = 0;
    Changed();
}

void TStringList::Assign(const TStringList& other) {
    if (&other == this) return;
    entries_ = other.entries_;
    blocks_ = other.blocks_;
    // The other list goes on filling its last block: this one starts a block of its own.
    free_ = nullptr;
    freeSize_ = 0;
    nameIndex_ = other.nameIndex_;
    lookups_ = other.lookups_;
}

void TStringList::AddStrings(const TStringList& other) {
    entries_.reserve(entries_.size() + other.entries_.size());
    for (const Entry& entry : other.entries_) entries_.push_back(Entry{Keep(entry.text), entry.object});
    Changed();
}

void TStringList::Sort() {
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return CompareText(a.text, b.text) < 0;
    });
    Changed();
}

int TStringList::IndexOf(const std::string& text) {
    for (int i = 0; i < Count(); ++i)
        if (SameText(entries_[i].text, text)) return i;
    return -1;
}

bool TStringList::Find(const std::string& text, int& index) const {
    int low = 0, high = Count() - 1;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        int c = CompareText(entries_[middle].text, text);
        if (c == 0) {
            index = middle;
            return true;
        }
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    index = low;
    return false;
}

std::string TStringList::Names(int index) const {
    const TListText text = entries_[index].text;
    size_t equals = text.find('=');
    return equals == std::string::npos ? std::string() : std::string(text.substr(0, equals));
}

int TStringList::IndexOfName(const std::string& name) const {
    if (Count() >= kIndexedCount && ++lookups_ >= 2) {
        int index = IndexOfNameByHash(name);
        if (index != -2) return index;
    }
    for (int i = 0; i < Count(); ++i) {
        const TListText text = entries_[i].text;
        size_t length = NameLength(text);
        if (length != std::string::npos &&
            CompareRanges(text.data(), length, name.data(), name.size()) == 0)
            return i;
    }
    return -1;
}

// The first entry with the name among those whose sort-key hash equals the name's; -2 when
// the caller must search entry by entry: for the empty name, which has no sort key, and
// when the system gives none for some text. An empty name has no hash either, and a name
// of ignorable characters alone may equal it: the first entry with an empty name is
// compared with every name looked up.
int TStringList::IndexOfNameByHash(const std::string& name) const {
    if (name.empty()) return -2;
    if (!nameIndex_) {
        auto index = std::make_shared<NameIndex>();
        for (int i = 0; i < Count(); ++i) {
            const TListText text = entries_[i].text;
            size_t length = NameLength(text);
            uint64_t hash = 0;
            if (length == std::string::npos) continue;  // never matches a name
            if (length == 0) {
                if (index->firstEmpty < 0) index->firstEmpty = i;
                continue;
            }
            if (!SortKeyHash(text.data(), length, hash)) return -2;
            index->byHash.emplace_back(hash, i);
        }
        std::sort(index->byHash.begin(), index->byHash.end());
        nameIndex_ = std::move(index);
    }
    uint64_t hash = 0;
    if (!SortKeyHash(name.data(), name.size(), hash)) return -2;
    int found = -1;
    const auto& byHash = nameIndex_->byHash;
    for (auto it = std::lower_bound(byHash.begin(), byHash.end(), std::make_pair(hash, -1));
         it != byHash.end() && it->first == hash; ++it) {
        const TListText text = entries_[static_cast<size_t>(it->second)].text;
        if (CompareRanges(text.data(), NameLength(text), name.data(), name.size()) == 0) {
            found = it->second;
            break;
        }
    }
    int empty = nameIndex_->firstEmpty;
    if (empty >= 0 && (found < 0 || empty < found) && CompareRanges("", 0, name.data(), name.size()) == 0)
        return empty;
    return found;
}

std::string TStringList::Values(const std::string& name) const {
    int index = IndexOfName(name);
    if (index < 0) return std::string();
    const TListText text = entries_[index].text;
    return std::string(text.substr(text.find('=') + 1));
}
