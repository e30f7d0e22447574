#pragma once

#include <set>

#include "framework/String.h"

// A set of strings with exact, case-sensitive keys, iterated in ordinal
// order so that what is written from it (the recovery file) is the same for
// the same content.
class CStringSet {
public:
    using const_iterator = std::set<CString>::const_iterator;

    // Returns true when the string was not present yet.
    bool Add(const CString& str) { return m_set.insert(str).second; }
    bool Remove(const CString& str) { return m_set.erase(str) > 0; }
    bool Contains(const CString& str) const { return m_set.find(str) != m_set.end(); }
    int GetCount() const { return static_cast<int>(m_set.size()); }
    bool IsEmpty() const { return m_set.empty(); }
    void RemoveAll() { m_set.clear(); }

    const_iterator begin() const { return m_set.begin(); }
    const_iterator end() const { return m_set.end(); }

    friend bool operator==(const CStringSet& a, const CStringSet& b) { return a.m_set == b.m_set; }

private:
    std::set<CString> m_set;
};
