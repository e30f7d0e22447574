#pragma once

#include <windows.h>

#include "framework/Time.h"

// An instant at the platform's own precision: 100-ns units since 1 January
// 1601 UTC, as FILETIME holds it. The session start is kept this way, since
// a cache entry the user's browser wrote in the same second as the start,
// but before it, is the user's.
class CFileTime {
public:
    CFileTime() = default;
    explicit CFileTime(ULONGLONG ticks) : m_ticks(ticks) {}
    explicit CFileTime(const FILETIME& ft)
        : m_ticks((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime)
    {
    }

    // Now, from the most precise system clock the platform offers.
    static CFileTime GetCurrentTime();

    ULONGLONG GetTicks() const { return m_ticks; }
    // The whole second this instant falls in.
    CTime ToTime() const { return CTime::FromFileTime(ToFileTime()); }
    FILETIME ToFileTime() const
    {
        return FILETIME{static_cast<DWORD>(m_ticks & 0xFFFFFFFFu), static_cast<DWORD>(m_ticks >> 32)};
    }

    friend bool operator==(const CFileTime& a, const CFileTime& b) { return a.m_ticks == b.m_ticks; }
    friend auto operator<=>(const CFileTime& a, const CFileTime& b) { return a.m_ticks <=> b.m_ticks; }

private:
    ULONGLONG m_ticks = 0;
};
