#include "qzStringList.h"

#include <windows.h>

#include <algorithm>

int CompareText(const std::string& a, const std::string& b) {
    int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                                static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    return result == 0 ? a.compare(b) : result - CSTR_EQUAL;
}

bool SameText(const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }

int TStringList::Add(std::string text, void* object) {
    entries_.push_back(Entry{std::move(text), object});
    return Count() - 1;
}

void TStringList::Insert(int index, std::string text, void* object) {
    entries_.insert(entries_.begin() + index, Entry{std::move(text), object});
}

void TStringList::Delete(int index) { entries_.erase(entries_.begin() + index); }

void TStringList::AddStrings(const TStringList& other) {
    entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
}

void TStringList::Sort() {
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return CompareText(a.text, b.text) < 0;
    });
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
    const std::string& text = entries_[index].text;
    size_t equals = text.find('=');
    return equals == std::string::npos ? std::string() : text.substr(0, equals);
}

int TStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& text = entries_[i].text;
        size_t equals = text.find('=');
        if (equals != std::string::npos && SameText(text.substr(0, equals), name)) return i;
    }
    return -1;
}

std::string TStringList::Values(const std::string& name) const {
    int index = IndexOfName(name);
    if (index < 0) return std::string();
    const std::string& text = entries_[index].text;
    return text.substr(text.find('=') + 1);
}
