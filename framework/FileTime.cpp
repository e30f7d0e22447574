#include "framework/FileTime.h"

CFileTime CFileTime::GetCurrentTime()
{
    // GetSystemTimeAsFileTime advances only at each timer tick (15.6 ms on
    // Windows 7): an entry the cache wrote earlier in the same tick would
    // read as written at the start itself, and be taken for the session's.
    // The precise clock exists from Windows 8 on.
    using PreciseFn = VOID(WINAPI*)(LPFILETIME);
    static const PreciseFn pfPrecise = [] {
        const HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
        return hKernel != nullptr
                   ? reinterpret_cast<PreciseFn>(
                         reinterpret_cast<void*>(GetProcAddress(hKernel, "GetSystemTimePreciseAsFileTime")))
                   : nullptr;
    }();
    FILETIME ft;
    if (pfPrecise != nullptr) {
        pfPrecise(&ft);
    } else {
        GetSystemTimeAsFileTime(&ft);
    }
    return CFileTime(ft);
}
