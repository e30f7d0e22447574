#pragma once

#include <windows.h>

#include <array>

// Times every call that this executable makes into the platform's URL cache
// and cookie jar (WinINet), and into the file system, without changing the
// code that makes them: the executable's import table entries of those
// functions are pointed at timing wrappers, and so are the addresses that
// GetProcAddress hands out for them. A call is charged to the bucket that is
// current when it returns; nothing runs them in parallel in the benchmarks.
// The wrappers cost well under a microsecond a call.
namespace PlatformCallTimer {

enum Call : int {
    // The URL cache and the cookie jar.
    kFindFirstUrlCacheEntryW,
    kFindNextUrlCacheEntryW,
    kFindCloseUrlCache,
    kDeleteUrlCacheEntryW,
    kInternetSetCookieW,
    kInternetSetCookieExW,
    kFirstFileCall,
    // The file system.
    kCreateFileW = kFirstFileCall,
    kReadFile,
    kWriteFile,
    kDeleteFileW,
    kRemoveDirectoryW,
    kGetFileAttributesW,
    kGetFileAttributesExW,
    kFindFirstFileW,
    kFindNextFileW,
    kSetFileTime,
    kFlushFileBuffers,
    kLockFile,
    kUnlockFile,
    kFirstShellCall,
    // The shell.
    kSHChangeNotify = kFirstShellCall,
    kCallCount
};
const char* CallName(Call call);
inline bool IsUrlCacheCall(int call) { return call < kFirstFileCall; }
inline bool IsFileCall(int call) { return call >= kFirstFileCall && call < kFirstShellCall; }

constexpr int kMaxBuckets = 10;

struct CCallFigures {
    long long nCalls = 0;
    double dSeconds = 0;
};
using CBucketFigures = std::array<CCallFigures, kCallCount>;

// Patches the import table; false (with a message on stderr) when a
// function could not be found.
bool Install();
// Later calls are charged to this bucket (0 at the start).
void SetBucket(int nBucket);
CBucketFigures Figures(int nBucket);
// Forgets every figure.
void Reset();

}  // namespace PlatformCallTimer
