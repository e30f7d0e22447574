#include "bench/PlatformCallTimer.h"

#include <shlobj.h>
#include <wininet.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace PlatformCallTimer {

namespace {

std::atomic<int> g_nBucket{0};
std::atomic<long long> g_calls[kMaxBuckets][kCallCount];
std::atomic<long long> g_ticks[kMaxBuckets][kCallCount];

long long Ticks()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

// Times one call and charges it; keeps the call's last error.
template <typename Fn, typename... Args>
auto Timed(Call call, Fn pfn, Args... args)
{
    const long long start = Ticks();
    if constexpr (std::is_void_v<decltype(pfn(args...))>) {
        pfn(args...);
        const long long spent = Ticks() - start;
        const int nBucket = g_nBucket.load();
        g_calls[nBucket][call] += 1;
        g_ticks[nBucket][call] += spent;
    } else {
        auto result = pfn(args...);
        const long long spent = Ticks() - start;
        const DWORD dwError = GetLastError();
        const int nBucket = g_nBucket.load();
        g_calls[nBucket][call] += 1;
        g_ticks[nBucket][call] += spent;
        SetLastError(dwError);
        return result;
    }
}

// One wrapper per function: its original address, and a function of the
// same signature that times a call of it.
#define NULVANE_TIMED(ret, name, params, args)                  \
    using name##Fn = ret(WINAPI*) params;                       \
    name##Fn g_pfn##name = nullptr;                             \
    ret WINAPI Timed##name params { return Timed(k##name, g_pfn##name, NULVANE_UNPAREN args); }
#define NULVANE_UNPAREN(...) __VA_ARGS__

NULVANE_TIMED(HANDLE, FindFirstUrlCacheEntryW, (LPCWSTR a, LPINTERNET_CACHE_ENTRY_INFOW b, LPDWORD c), (a, b, c))
NULVANE_TIMED(BOOL, FindNextUrlCacheEntryW, (HANDLE a, LPINTERNET_CACHE_ENTRY_INFOW b, LPDWORD c), (a, b, c))
NULVANE_TIMED(BOOL, FindCloseUrlCache, (HANDLE a), (a))
NULVANE_TIMED(BOOL, DeleteUrlCacheEntryW, (LPCWSTR a), (a))
NULVANE_TIMED(BOOL, InternetSetCookieW, (LPCWSTR a, LPCWSTR b, LPCWSTR c), (a, b, c))
NULVANE_TIMED(DWORD, InternetSetCookieExW, (LPCWSTR a, LPCWSTR b, LPCWSTR c, DWORD d, DWORD_PTR e), (a, b, c, d, e))
NULVANE_TIMED(HANDLE, CreateFileW, (LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g),
              (a, b, c, d, e, f, g))
NULVANE_TIMED(BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
NULVANE_TIMED(BOOL, WriteFile, (HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e))
NULVANE_TIMED(BOOL, DeleteFileW, (LPCWSTR a), (a))
NULVANE_TIMED(BOOL, RemoveDirectoryW, (LPCWSTR a), (a))
NULVANE_TIMED(DWORD, GetFileAttributesW, (LPCWSTR a), (a))
NULVANE_TIMED(BOOL, GetFileAttributesExW, (LPCWSTR a, GET_FILEEX_INFO_LEVELS b, LPVOID c), (a, b, c))
NULVANE_TIMED(HANDLE, FindFirstFileW, (LPCWSTR a, LPWIN32_FIND_DATAW b), (a, b))
NULVANE_TIMED(BOOL, FindNextFileW, (HANDLE a, LPWIN32_FIND_DATAW b), (a, b))
NULVANE_TIMED(BOOL, SetFileTime, (HANDLE a, const FILETIME* b, const FILETIME* c, const FILETIME* d), (a, b, c, d))
NULVANE_TIMED(BOOL, FlushFileBuffers, (HANDLE a), (a))
NULVANE_TIMED(BOOL, LockFile, (HANDLE a, DWORD b, DWORD c, DWORD d, DWORD e), (a, b, c, d, e))
NULVANE_TIMED(BOOL, UnlockFile, (HANDLE a, DWORD b, DWORD c, DWORD d, DWORD e), (a, b, c, d, e))
NULVANE_TIMED(void, SHChangeNotify, (LONG a, UINT b, LPCVOID c, LPCVOID d), (a, b, c, d))

struct CHook {
    const char* pszName;
    void** ppOriginal;
    void* pWrapper;
};

#define NULVANE_HOOK(name) \
    {#name, reinterpret_cast<void**>(&g_pfn##name), reinterpret_cast<void*>(&Timed##name)}

// In the order of Call.
CHook g_hooks[kCallCount] = {
    NULVANE_HOOK(FindFirstUrlCacheEntryW), NULVANE_HOOK(FindNextUrlCacheEntryW), NULVANE_HOOK(FindCloseUrlCache),
    NULVANE_HOOK(DeleteUrlCacheEntryW),    NULVANE_HOOK(InternetSetCookieW),     NULVANE_HOOK(InternetSetCookieExW),
    NULVANE_HOOK(CreateFileW),             NULVANE_HOOK(ReadFile),               NULVANE_HOOK(WriteFile),
    NULVANE_HOOK(DeleteFileW),             NULVANE_HOOK(RemoveDirectoryW),       NULVANE_HOOK(GetFileAttributesW),
    NULVANE_HOOK(GetFileAttributesExW),    NULVANE_HOOK(FindFirstFileW),         NULVANE_HOOK(FindNextFileW),
    NULVANE_HOOK(SetFileTime),             NULVANE_HOOK(FlushFileBuffers),       NULVANE_HOOK(LockFile),
    NULVANE_HOOK(UnlockFile),              NULVANE_HOOK(SHChangeNotify),
};

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFn g_pfnGetProcAddress = nullptr;

// Hands out the wrapper instead of a function that is timed.
FARPROC WINAPI TimedGetProcAddress(HMODULE module, LPCSTR pszName)
{
    const FARPROC result = g_pfnGetProcAddress(module, pszName);
    for (const CHook& hook : g_hooks) {
        if (result != nullptr && reinterpret_cast<void*>(result) == *hook.ppOriginal) {
            return reinterpret_cast<FARPROC>(hook.pWrapper);
        }
    }
    return result;
}

void Patch(void** pSlot, void* pValue)
{
    DWORD dwOld = 0;
    VirtualProtect(pSlot, sizeof(void*), PAGE_READWRITE, &dwOld);
    *pSlot = pValue;
    VirtualProtect(pSlot, sizeof(void*), dwOld, &dwOld);
}

}  // namespace

const char* CallName(Call call)
{
    return call >= 0 && call < kCallCount ? g_hooks[call].pszName : "?";
}

bool Install()
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    void** pGetProcAddressSlot = nullptr;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); desc->Name != 0;
         ++desc) {
        if (desc->OriginalFirstThunk == 0) {
            continue;
        }
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        for (; name->u1.AddressOfData != 0; ++slot, ++name) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                continue;
            }
            const char* pszName = reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name);
            auto** pSlot = reinterpret_cast<void**>(&slot->u1.Function);
            if (strcmp(pszName, "GetProcAddress") == 0) {
                pGetProcAddressSlot = pSlot;
            }
            for (CHook& hook : g_hooks) {
                if (strcmp(pszName, hook.pszName) == 0) {
                    *hook.ppOriginal = *pSlot;
                    Patch(pSlot, hook.pWrapper);
                }
            }
        }
    }
    if (pGetProcAddressSlot == nullptr) {
        fprintf(stderr, "GetProcAddress is not in the import table\n");
        return false;
    }
    // What is not imported by name is reached only through GetProcAddress.
    bool bAll = true;
    const wchar_t* const modules[] = {L"wininet.dll", L"kernel32.dll", L"shell32.dll"};
    for (CHook& hook : g_hooks) {
        for (const wchar_t* pszModule : modules) {
            const HMODULE module = GetModuleHandleW(pszModule);
            if (*hook.ppOriginal == nullptr && module != nullptr) {
                *hook.ppOriginal = reinterpret_cast<void*>(GetProcAddress(module, hook.pszName));
            }
        }
        if (*hook.ppOriginal == nullptr) {
            fprintf(stderr, "cannot time %s\n", hook.pszName);
            bAll = false;
        }
    }
    g_pfnGetProcAddress = reinterpret_cast<GetProcAddressFn>(*pGetProcAddressSlot);
    Patch(pGetProcAddressSlot, reinterpret_cast<void*>(&TimedGetProcAddress));
    return bAll;
}

void SetBucket(int nBucket)
{
    if (nBucket >= 0 && nBucket < kMaxBuckets) {
        g_nBucket = nBucket;
    }
}

CBucketFigures Figures(int nBucket)
{
    CBucketFigures figures;
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    for (int c = 0; c < kCallCount; ++c) {
        figures[c].nCalls = g_calls[nBucket][c].load();
        figures[c].dSeconds = static_cast<double>(g_ticks[nBucket][c].load()) / static_cast<double>(f.QuadPart);
    }
    return figures;
}

void Reset()
{
    for (int b = 0; b < kMaxBuckets; ++b) {
        for (int c = 0; c < kCallCount; ++c) {
            g_calls[b][c] = 0;
            g_ticks[b][c] = 0;
        }
    }
}

}  // namespace PlatformCallTimer
