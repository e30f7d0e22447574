#pragma once

#include <windows.h>
#include <shlobj.h>

#include <functional>

#include "framework/String.h"

// What every benchmark measures with: seconds from the performance counter.
inline double Seconds()
{
    LARGE_INTEGER f;
    LARGE_INTEGER c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

inline double Time(const std::function<void()>& work)
{
    const double start = Seconds();
    work();
    return Seconds() - start;
}

// The prefix's application data folder, where Flash and Java keep theirs.
inline CString AppData()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return CString(path);
}
