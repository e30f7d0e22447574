#pragma once

#include <ostream>

#include "framework/String.h"
#include "framework/Time.h"

// How GoogleTest shows our types in failure messages: as UTF-8 text.
inline void PrintTo(const CString& s, std::ostream* os)
{
    *os << '"' << s.ToUtf8() << '"';
}

inline void PrintTo(const CTime& t, std::ostream* os)
{
    *os << t.GetTime() << " (" << t.FormatGmt(L"%Y-%m-%d %H:%M:%S").ToUtf8() << " UTC)";
}
