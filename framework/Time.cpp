#include "framework/Time.h"

#include <ctime>

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

CString FormatTm(const wchar_t* pszFormat, const struct tm* ptm)
{
    if (pszFormat == nullptr || ptm == nullptr) {
        return CString();
    }
    wchar_t buffer[256];
    const size_t n = wcsftime(buffer, sizeof(buffer) / sizeof(buffer[0]), pszFormat, ptm);
    return CString(buffer, static_cast<int>(n));
}

}  // namespace

CTime CTime::GetCurrentTime()
{
    return CTime(static_cast<int64_t>(_time64(nullptr)));
}

CTime CTime::FromFileTime(const FILETIME& ft)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    const int64_t ticks = static_cast<int64_t>(u.QuadPart) - kEpochDifference;
    // Floor division, so that times before 1970 do not round up.
    int64_t seconds = ticks / kTicksPerSecond;
    if (ticks % kTicksPerSecond < 0) {
        --seconds;
    }
    return CTime(seconds);
}

FILETIME CTime::ToFileTime() const
{
    ULARGE_INTEGER u;
    u.QuadPart = static_cast<ULONGLONG>(m_time * kTicksPerSecond + kEpochDifference);
    FILETIME ft;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    return ft;
}

CString CTime::FormatGmt(const wchar_t* pszFormat) const
{
    const __time64_t t = m_time;
    struct tm tmv;
    if (_gmtime64_s(&tmv, &t) != 0) {
        return CString();
    }
    return FormatTm(pszFormat, &tmv);
}

CString CTime::Format(const wchar_t* pszFormat) const
{
    const __time64_t t = m_time;
    struct tm tmv;
    if (_localtime64_s(&tmv, &t) != 0) {
        return CString();
    }
    return FormatTm(pszFormat, &tmv);
}

int CTime::GetYear() const
{
    const __time64_t t = m_time;
    struct tm tmv;
    return _localtime64_s(&tmv, &t) == 0 ? tmv.tm_year + 1900 : 0;
}

int CTime::GetMonth() const
{
    const __time64_t t = m_time;
    struct tm tmv;
    return _localtime64_s(&tmv, &t) == 0 ? tmv.tm_mon + 1 : 0;
}
