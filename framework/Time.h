#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/String.h"

// A point in time in whole seconds since 1 January 1970 UTC. FILETIME values
// (100-ns units since 1601) appear only where the platform or an index file
// hands them over.
class CTime {
public:
    CTime() = default;
    explicit CTime(int64_t seconds) : m_time(seconds) {}

    static CTime GetCurrentTime();

    // The exact instant of a FILETIME, truncated to whole seconds.
    static CTime FromFileTime(const FILETIME& ft);

    FILETIME ToFileTime() const;
    int64_t GetTime() const { return m_time; }

    // "%Y-%m-%d"-style strftime formats, in UTC or local time.
    CString FormatGmt(const wchar_t* pszFormat) const;
    CString Format(const wchar_t* pszFormat) const;

    // The calendar year (e.g. 2024) and month (1 to 12) in local time; 0
    // for a time the C runtime cannot convert.
    int GetYear() const;
    int GetMonth() const;

    CTime operator+(int64_t seconds) const { return CTime(m_time + seconds); }
    CTime operator-(int64_t seconds) const { return CTime(m_time - seconds); }
    int64_t operator-(const CTime& other) const { return m_time - other.m_time; }

    friend bool operator==(const CTime& a, const CTime& b) { return a.m_time == b.m_time; }
    friend auto operator<=>(const CTime& a, const CTime& b) { return a.m_time <=> b.m_time; }

private:
    int64_t m_time = 0;
};
