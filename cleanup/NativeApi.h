#pragma once

// The native system calls and the record layouts that the secure deleter and
// the process inspection look up at run time. Only what they use is declared
// here; every layout is the one the operating system publishes for the
// build's architecture.

#include <windows.h>
#include <winternl.h>

#include <cstddef>

#include "framework/Handles.h"
#include "framework/String.h"

namespace native {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusPending = 0x00000103;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kStatusNoMemory = static_cast<NTSTATUS>(0xC0000017);
constexpr NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002);

constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kObjectTypeInformation = 2;
constexpr ULONG kFileNameInformation = 9;
constexpr ULONG kSeDebugPrivilege = 20;
constexpr ULONG kFsctlGetRetrievalPointers = 0x00090073;

using NtFsControlFileFn = NTSTATUS(NTAPI*)(HANDLE hFile, HANDLE hEvent, PVOID pApcRoutine, PVOID pApcContext,
                                           PIO_STATUS_BLOCK pIoStatus, ULONG ulControlCode, PVOID pInput,
                                           ULONG cbInput, PVOID pOutput, ULONG cbOutput);
using NtQuerySystemInformationFn = NTSTATUS(NTAPI*)(ULONG ulClass, PVOID pInformation, ULONG cbInformation,
                                                    PULONG pcbReturned);
using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE hObject, ULONG ulClass, PVOID pInformation, ULONG cbInformation,
                                         PULONG pcbReturned);
using NtQueryInformationFileFn = NTSTATUS(NTAPI*)(HANDLE hFile, PIO_STATUS_BLOCK pIoStatus, PVOID pInformation,
                                                  ULONG cbInformation, ULONG ulClass);
using RtlAdjustPrivilegeFn = NTSTATUS(NTAPI*)(ULONG ulPrivilege, BOOLEAN bEnable, BOOLEAN bCurrentThread,
                                              PBOOLEAN pbWasEnabled);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE hProcess, DWORD dwAccess, PHANDLE phToken);
using GetProcessImageFileNameWFn = DWORD(WINAPI*)(HANDLE hProcess, LPWSTR pszImage, DWORD cchImage);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE hProcess, HMODULE hModule, LPWSTR pszName, DWORD cchName);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD* pdwProcessIds, DWORD cb, DWORD* pcbNeeded);

// One entry of the system handle table (information class 16). The process
// id is 16 bits wide with a creator back-trace index beside it; systems that
// write a 32-bit id (Wine does) give the same value for ids below 65536.
// 24 bytes on x64, 16 on x86: the object address is pointer-sized.
struct CSystemHandleEntry {
    USHORT usProcessId;
    USHORT usCreatorBackTraceIndex;
    UCHAR ucObjectType;
    UCHAR ucAttributes;
    USHORT usHandleValue;
    PVOID pObject;
    ULONG ulGrantedAccess;
};

// The table: a 32-bit entry count, then the entries at pointer alignment.
struct CSystemHandleTable {
    ULONG ulCount;
    CSystemHandleEntry entries[1];
};

#ifdef _WIN64
static_assert(sizeof(CSystemHandleEntry) == 24, "x64 handle-table entry");
static_assert(offsetof(CSystemHandleTable, entries) == 8, "x64 handle-table header");
#else
static_assert(sizeof(CSystemHandleEntry) == 16, "x86 handle-table entry");
static_assert(offsetof(CSystemHandleTable, entries) == 4, "x86 handle-table header");
#endif

// The output of the retrieval-pointers request: the extent count, the
// virtual cluster number where the first extent starts, then the extents.
// An extent ends at NextVcn and starts where the previous one ended; its
// logical cluster number is -1 when the run has no clusters on disk.
struct CRetrievalExtent {
    LONGLONG llNextVcn;
    LONGLONG llLcn;
};

struct CRetrievalMapHeader {
    DWORD dwExtentCount;
    LONGLONG llStartingVcn;
};

static_assert(sizeof(CRetrievalMapHeader) == 16, "retrieval map header");
static_assert(sizeof(CRetrievalExtent) == 16, "retrieval map extent");

// Loads a library from the system directory; pszName starts with a backslash
// ("\\NTDLL.DLL"). A null owner when it cannot be loaded.
inline CLibrary LoadSystemLibrary(const wchar_t* pszName)
{
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return CLibrary();
    }
    const CString path = CString(folder, static_cast<int>(n)) + pszName;
    return CLibrary(LoadLibraryW(path));
}

template <typename Fn>
Fn GetFunction(const CLibrary& library, const char* pszName)
{
    if (!library) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(GetProcAddress(library.get(), pszName));
}

}  // namespace native
