#pragma once

#include <ostream>

#include "framework/String.h"

// How GoogleTest shows our types in failure messages: as UTF-8 text.
inline void PrintTo(const CString& s, std::ostream* os)
{
    *os << '"' << s.ToUtf8() << '"';
}
